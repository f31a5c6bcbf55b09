#include "cli/json.h"

#include <array>
#include <charconv>
#include <cmath>

namespace zorm::cli {

namespace {

// The length of the valid UTF-8 sequence at the start of `text`, or 0.
std::size_t Utf8Length(std::string_view text) {
    const auto byte = [&text](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t lowest = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, lowest = 0x80, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, lowest = 0x800, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, lowest = 0x10000, code = lead & 0x07;
    } else {
        return 0;
    }
    if (text.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) {
            return 0;
        }
        code = (code << 6) | (byte(i) & 0x3F);
    }
    // Overlong forms, surrogates and code points beyond Unicode are no UTF-8.
    if (code < lowest || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) {
        return 0;
    }
    return length;
}

void WriteString(std::string_view text, std::string& out) {
    out += '"';
    while (!text.empty()) {
        const unsigned char c = static_cast<unsigned char>(text.front());
        const std::size_t length = Utf8Length(text);
        if (length == 0) {
            out += "\\ufffd";
            text.remove_prefix(1);
            continue;
        }
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            constexpr char Hex[] = "0123456789abcdef";
            out += "\\u00";
            out += Hex[c >> 4];
            out += Hex[c & 0xF];
        } else {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    out += '"';
}

template <class Number> void WriteNumber(Number value, std::string& out) {
    std::array<char, 32> buffer{};
    const auto [end, ec] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    out.append(buffer.data(), ec == std::errc{} ? end : buffer.data());
}

} // namespace

Json& Json::operator[](std::string_view key) {
    if (!std::holds_alternative<Members>(value_)) {
        value_ = Members{};
    }
    Members& members = std::get<Members>(value_);
    for (auto& [name, value] : members) {
        if (name == key) {
            return value;
        }
    }
    return members.emplace_back(std::string(key), Json{}).second;
}

Json& Json::Add(Json item) {
    if (!std::holds_alternative<Array>(value_)) {
        value_ = Array{};
    }
    return std::get<Array>(value_).emplace_back(std::move(item));
}

std::string Json::Text() const {
    std::string out;
    Write(out);
    return out;
}

void Json::Write(std::string& out) const {
    if (std::holds_alternative<std::nullptr_t>(value_)) {
        out += "null";
    } else if (const bool* b = std::get_if<bool>(&value_)) {
        out += *b ? "true" : "false";
    } else if (const std::int64_t* i = std::get_if<std::int64_t>(&value_)) {
        WriteNumber(*i, out);
    } else if (const double* d = std::get_if<double>(&value_)) {
        if (*d == 0 && std::signbit(*d)) {
            out += "-0.0"; // "-0" reads back as the integer 0 in many readers
        } else if (std::isfinite(*d)) {
            WriteNumber(*d, out);
        } else {
            out += "null";
        }
    } else if (const std::string* s = std::get_if<std::string>(&value_)) {
        WriteString(*s, out);
    } else if (const Array* a = std::get_if<Array>(&value_)) {
        out += '[';
        for (const Json& item : *a) {
            out += &item == &a->front() ? "" : ",";
            item.Write(out);
        }
        out += ']';
    } else {
        const Members& members = std::get<Members>(value_);
        out += '{';
        for (const auto& [name, value] : members) {
            out += &name == &members.front().first ? "" : ",";
            WriteString(name, out);
            out += ':';
            value.Write(out);
        }
        out += '}';
    }
}

} // namespace zorm::cli
