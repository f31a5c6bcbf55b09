// The JSON documents of zorm5816-cli: a small value tree and its text.
//
// Numbers in full precision: a double is written in the shortest form that
// reads back as the same double (so every bit of a coefficient survives), an
// integer as it is; a value that is not finite has no JSON form and becomes
// null. Strings are UTF-8; a byte that is not part of valid UTF-8 (a file
// name from an older system) becomes U+FFFD, so the document stays valid.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

namespace zorm::cli {

class Json {
public:
    // Lists, so that a reference to a member or an item stays good while
    // more are added.
    using Array = std::list<Json>;
    using Members = std::list<std::pair<std::string, Json>>;

    Json() = default; // null
    Json(std::nullptr_t) {}
    Json(bool value) : value_(value) {}
    Json(int value) : value_(std::int64_t{value}) {}
    Json(unsigned value) : value_(std::int64_t{value}) {}
    Json(std::int64_t value) : value_(value) {}
    Json(double value) : value_(value) {}
    Json(std::string value) : value_(std::move(value)) {}
    Json(std::string_view value) : value_(std::string(value)) {}
    Json(const char* value) : value_(std::string(value)) {}
    Json(Array value) : value_(std::move(value)) {}
    Json(Members value) : value_(std::move(value)) {}

    static Json Object() { return Json(Members{}); }

    // An object's member `key`, added at the end when it is not there yet.
    // On a value that is not an object, the value becomes an empty object
    // first.
    Json& operator[](std::string_view key);
    // Appends to an array; a value that is not an array becomes an empty
    // array first.
    Json& Add(Json item);

    // The document in one line.
    std::string Text() const;

private:
    void Write(std::string& out) const;

    std::variant<std::nullptr_t, bool, std::int64_t, double, std::string, Array, Members> value_;
};

} // namespace zorm::cli
