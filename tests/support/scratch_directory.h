// Scratch directories for tests and benchmarks: a fresh empty directory under
// the system's temporary directory, removed with everything in it when the
// object goes, a scope that makes a directory the working directory, and the
// names a directory holds.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace zorm::test {

// The names of the entries in `dir`, sorted.
inline std::vector<std::string> EntryNames(const std::filesystem::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Makes `dir` the working directory until the object goes.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::filesystem::path& dir)
        : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~WorkingDirectory() {
        std::error_code ignored;
        std::filesystem::current_path(previous_, ignored);
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;

private:
    std::filesystem::path previous_;
};

class ScratchDirectory {
public:
    enum Mode { Stay, Enter };

    // With Enter the new directory is also the working directory while the
    // object lives. Throws std::filesystem::filesystem_error on failure.
    explicit ScratchDirectory(Mode mode = Stay) {
#ifdef _WIN32
        // Windows has no mkdtemp: random names until one is new.
        std::random_device random;
        do {
            path_ = std::filesystem::temp_directory_path() / ("zorm-" + std::to_string(random()));
        } while (!std::filesystem::create_directory(path_));
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "zorm-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::filesystem::filesystem_error(
                "mkdtemp", pattern, std::error_code(errno, std::generic_category()));
        }
        path_ = pattern;
#endif
        if (mode == Enter) {
            inside_.emplace(path_);
        }
    }
    ~ScratchDirectory() {
        inside_.reset();
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::filesystem::path& Path() const {
        return path_;
    }

private:
    std::filesystem::path path_;
    std::optional<WorkingDirectory> inside_;
};

} // namespace zorm::test
