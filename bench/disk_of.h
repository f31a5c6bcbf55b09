// Where a benchmark's files lie: the disk under test, named in its output.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace zorm::bench {

// The device and file system the folder lies on, from /proc/self/mountinfo.
inline std::string DiskOf(const std::filesystem::path& folder) {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string best;
    std::string described = "unknown";
    for (std::string line; std::getline(mounts, line);) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, point, options, field;
        fields >> id >> parent >> numbers >> root >> point >> options;
        while (fields >> field && field != "-") {
        }
        std::string type, source;
        fields >> type >> source;
        const std::string path = std::filesystem::canonical(folder).string();
        if (path.starts_with(point) && point.size() >= best.size()) {
            best = point;
            described = source + " (" + type + ", mounted on " + point + ")";
        }
    }
    return described;
}

} // namespace zorm::bench
