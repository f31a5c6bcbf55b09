// What a program started with popen() writes to its standard output, read to
// its end, and its exit status (-1 when it did not exit by itself).
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <utility>

namespace zorm::test {

inline std::pair<int, std::string> FinishProgram(std::FILE* program) {
    std::string output;
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, program)) {
        output.append(buffer, got);
    }
    const int status = ::pclose(program);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

} // namespace zorm::test
