// Helpers shared by the fuzz targets. The targets work on the files of the
// working directory, so each input runs inside a scratch directory of the
// target's own (under $TMPDIR), and the caller's files stay alone.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zorm::fuzz {

// A property that must hold for every input; a violation is a crash, which
// the fuzzer reports with the input that caused it.
inline void Require(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

// Makes a scratch directory once and, while an instance lives, the working
// directory; between inputs the fuzzer's own relative paths (corpus,
// artifacts) keep their meaning.
class InScratchDirectory {
public:
    InScratchDirectory() {
        static const int scratch = MakeScratchDirectory();
        previous_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        Require(previous_ >= 0 && ::fchdir(scratch) == 0);
    }
    InScratchDirectory(const InScratchDirectory&) = delete;
    InScratchDirectory& operator=(const InScratchDirectory&) = delete;
    ~InScratchDirectory() {
        Require(::fchdir(previous_) == 0);
        ::close(previous_);
    }

private:
    static int MakeScratchDirectory() {
        static std::filesystem::path path;
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                              "/zorm-fuzz-target-XXXXXX";
        Require(::mkdtemp(pattern.data()) != nullptr);
        path = pattern;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        });
        const int fd = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        Require(fd >= 0);
        return fd;
    }

    int previous_;
};

inline void WriteWholeFile(const char* name, const std::uint8_t* data, std::size_t size) {
    const int fd = ::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    Require(fd >= 0);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t written = ::write(fd, data + done, size - done);
        Require(written > 0);
        done += static_cast<std::size_t>(written);
    }
    Require(::close(fd) == 0);
}

inline std::string ReadWholeFile(const char* name) {
    std::string text;
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    Require(fd >= 0);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    Require(got == 0 && ::close(fd) == 0);
    return text;
}

inline bool IsDigits(std::string_view text) {
    if (text.empty()) {
        return false;
    }
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

// The shape every number text has: an optional "-", then "INF", "NAN" or
// digits with an optional separator and fraction and an optional exponent
// ("E", an optional "-", digits).
inline bool IsNumberText(std::string_view text, char sep) {
    if (text.size() > 32) {
        return false;
    }
    if (!text.empty() && text.front() == '-') {
        text.remove_prefix(1);
    }
    if (text == "INF" || text == "NAN") {
        return true;
    }
    std::string_view exponent;
    if (const auto e = text.find('E'); e != std::string_view::npos) {
        exponent = text.substr(e + 1);
        text = text.substr(0, e);
        if (!exponent.empty() && exponent.front() == '-') {
            exponent.remove_prefix(1);
        }
        if (!IsDigits(exponent)) {
            return false;
        }
    }
    if (const auto point = text.find(sep); point != std::string_view::npos) {
        return IsDigits(text.substr(0, point)) && IsDigits(text.substr(point + 1));
    }
    return IsDigits(text);
}

} // namespace zorm::fuzz
