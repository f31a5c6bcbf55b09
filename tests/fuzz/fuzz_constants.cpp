// Any bytes may stand in ZORM5816.par. Loading them, exporting the text and
// saving them again must neither crash nor lose a byte, and the export must
// keep its seven-line shape whatever the coefficients and the separator.
#include "data/context.h"
#include "data/param_files.h"
#include "data/windows1250.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace zorm::fuzz {
namespace {

// Checks line `KsA3=v,  KsA2=v,  KsA1=v,  KsA0=v` of sensor s.
void CheckValueLine(std::string_view line, int s, char sep) {
    const std::string k = "K" + std::to_string(s);
    const std::string labels[4] = {
        k + "A3=", ",  " + k + "A2=", ",  " + k + "A1=", ",  " + k + "A0="};
    Require(line.substr(0, labels[0].size()) == labels[0]);
    std::size_t at = labels[0].size();
    for (int i = 1; i <= 4; ++i) {
        const std::size_t end = i < 4 ? line.find(labels[i], at) : line.size();
        Require(end != std::string_view::npos);
        const std::string_view value = line.substr(at, end - at);
        // A separator that a number text could hold anyway leaves the value
        // ambiguous; only the frame is checked then.
        if (std::string_view("0123456789E-").find(sep) == std::string_view::npos) {
            Require(IsNumberText(value, sep));
        } else {
            Require(!value.empty());
        }
        if (i < 4) {
            at = end + labels[i].size();
        }
    }
}

} // namespace
} // namespace zorm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorm;
    using namespace zorm::fuzz;
    const InScratchDirectory scratch;

    WriteWholeFile(ConstantsFileName, data, size);
    Context context;
    Require(LoadConstants(context));
    const auto image = context.PolyCoeffs.ToBytes();
    const std::size_t loaded = std::min(size, ConstantsFileSize);
    Require(std::equal(image.begin(), image.begin() + loaded, data));
    Require(std::all_of(image.begin() + loaded, image.end(), [](auto b) { return b == 0; }));

    // The byte after the coefficients, if any, is the separator; a byte that
    // is no character on its own is written as the unmappable mark.
    const char sep = size > ConstantsFileSize ? static_cast<char>(data[ConstantsFileSize]) : '.';
    const char written = static_cast<unsigned char>(sep) < 0x80 ? sep : Windows1250Unmappable;
    Require(ExportConstantsText(context, sep));
    const std::string text = ReadWholeFile(ConstantsTextFileName);
    std::size_t at = 0;
    for (int line = 1; line <= 7; ++line) {
        const std::size_t end = text.find("\r\n", at);
        Require(end != std::string::npos);
        const std::string_view content(text.data() + at, end - at);
        if (line == 1) {
            Require(content == ToWindows1250("ZORM5816: konstanty polynomu pro snímače teploty"));
        } else if (line % 2 == 0) {
            Require(content.empty());
        } else {
            CheckValueLine(content, (line - 1) / 2, written);
        }
        at = end + 2;
    }
    Require(at == text.size());

    Require(SaveConstants(context));
    Context reloaded;
    Require(LoadConstants(reloaded));
    Require(reloaded.PolyCoeffs == context.PolyCoeffs);
    return 0;
}
