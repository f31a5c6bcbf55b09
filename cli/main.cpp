// zorm5816-cli: the commands of cli.h over the process's own streams, with
// the decimal separator of the regional settings.
#include "cli/cli.h"

#include <clocale>
#include <iostream>
#include <string_view>
#include <vector>

int main(int argc, char* argv[]) {
    zorm::cli::Environment environment;
    // Only the separator is taken from the locale; everything else keeps
    // working in the "C" locale.
    if (std::setlocale(LC_NUMERIC, "") != nullptr) {
        const char* point = std::localeconv()->decimal_point;
        if (point != nullptr && point[0] != '\0' && point[1] == '\0') {
            environment.DecimalSeparator = point[0];
        }
        std::setlocale(LC_NUMERIC, "C");
    }
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    return zorm::cli::Run(args, std::cout, std::cerr, environment);
}
