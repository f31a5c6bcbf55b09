// Any bytes may come back on the line, cut at any length. The five commands
// decode whatever arrives without a crash, and the identification and the
// measurement never report more than the bytes hold: a type text is "CHYBA"
// or "ZORM", four printable characters and "A"; a failed measurement leaves
// LastReading as it was or 0, a good one holds five digits' worth.
#include "link/drv232.h"
#include "tests/fuzz/fuzz_support.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zorm::fuzz {
namespace {

// What the read of the exchange that ran last handed out.
struct Exchanged {
    std::vector<std::uint8_t> Reply;
};

// A port driven by the input: each frame written takes a byte that says
// whether the write, the switch back to receive and the read fail; each read
// takes a length (any number up to what was asked for) and that many bytes.
class FuzzedPort final : public SerialPort {
public:
    FuzzedPort(FuzzedDataProvider& input, Exchanged& exchanged)
        : input_(input), exchanged_(exchanged) {}

    bool SetLineFormat(const LineFormat&) override { return true; }
    bool SetTimeouts(const CommTimeouts&) override { return true; }
    bool SetRts(bool) override { return (faults_ & RtsFails) == 0; }
    bool DiscardInput() override { return true; }
    void Sleep(std::chrono::milliseconds) override {}
    bool Close() override { return true; }

    bool Write(std::span<const std::uint8_t>) override {
        exchanged_ = {};
        faults_ = input_.ConsumeIntegral<std::uint8_t>();
        return (faults_ & WriteFails) == 0;
    }

    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        if ((faults_ & ReadFails) != 0) {
            return false;
        }
        const auto length = input_.ConsumeIntegralInRange<std::size_t>(0, buffer.size());
        exchanged_.Reply = input_.ConsumeBytes<std::uint8_t>(length);
        received = exchanged_.Reply.size();
        std::copy(exchanged_.Reply.begin(), exchanged_.Reply.end(), buffer.begin());
        return true;
    }

private:
    static constexpr std::uint8_t WriteFails = 1;
    static constexpr std::uint8_t RtsFails = 2;
    static constexpr std::uint8_t ReadFails = 4;

    FuzzedDataProvider& input_;
    Exchanged& exchanged_;
    std::uint8_t faults_ = 0;
};

bool IsPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

void CheckIdentification(const std::string& type, const Exchanged& line) {
    if (type == DeviceTypeError) {
        return;
    }
    Require(type.size() == 9 && type.starts_with("ZORM") && type.ends_with("A") &&
            std::all_of(type.begin() + 4, type.end() - 1, IsPrintable));
    // The four characters are the ones that came, and so did '>' and CR.
    const auto& reply = line.Reply;
    Require(reply.size() == 6 && reply[0] == '>' && reply[5] == 13 &&
            std::equal(reply.begin() + 1, reply.begin() + 5, type.begin() + 4));
}

void CheckMeasurement(bool ok, std::int32_t before, std::int32_t after, const Exchanged& line) {
    if (!ok) {
        Require(after == before || after == 0);
        return;
    }
    Require(after >= 0 && after <= 99999);
    const auto& reply = line.Reply;
    Require(reply.size() == 8 && reply[7] == 13);
    std::int32_t digits = 0;
    for (std::size_t i = 2; i <= 6; ++i) {
        Require(reply[i] >= '0' && reply[i] <= '9');
        digits = digits * 10 + (reply[i] - '0');
    }
    Require(after == digits);
}

} // namespace
} // namespace zorm::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace zorm;
    using namespace zorm::fuzz;
    FuzzedDataProvider input(data, size);

    Context context;
    context.DeviceSettings.DeviceAddress = input.ConsumeIntegral<std::uint8_t>();
    context.DeviceSettings.FilterOn = input.ConsumeIntegral<std::uint8_t>();
    context.DeviceSettings.RtsOnTransmit = input.ConsumeIntegral<std::uint8_t>();
    context.LastReading = input.ConsumeIntegral<std::int32_t>();
    Exchanged line;
    Drv232 link(context, [&](std::uint8_t) { return std::make_unique<FuzzedPort>(input, line); });
    Require(link.OpenPort(1));

    while (input.remaining_bytes() > 0) {
        switch (input.ConsumeIntegralInRange(0, 4)) {
        case 0:
            CheckIdentification(link.ReadDeviceType(), line);
            break;
        case 1: {
            const std::int32_t before = context.LastReading;
            const auto channel = input.ConsumeIntegralInRange<std::uint8_t>(1, 3);
            const bool ok = link.MeasureChannel(channel);
            CheckMeasurement(ok, before, context.LastReading, line);
            if (ok) {
                Require(line.Reply[0] == '>' && line.Reply[1] == '0' + channel);
            }
            break;
        }
        case 2: {
            const std::string text = link.ReadDiagnostics(input.ConsumeIntegral<std::uint8_t>());
            Require(text == DiagnosticsError || text.starts_with("Vysledek: "));
            break;
        }
        case 3: {
            const AdcRegBytes before = context.AdcRegBytes;
            const bool ok = link.ReadAdcRegister(input.ConsumeIntegral<std::uint8_t>());
            const auto& reply = line.Reply;
            // New bytes only from a whole reply; a true one passed its check.
            if (context.AdcRegBytes != before) {
                Require(
                    reply.size() == 7 && reply[0] == '>' &&
                    std::equal(reply.begin() + 2, reply.begin() + 5, context.AdcRegBytes.begin()));
            }
            if (ok) {
                Require(reply.size() == 7 && (reply[2] ^ reply[3] ^ reply[4]) == reply[5]);
            }
            break;
        }
        default:
            link.WriteAdcRegister(input.ConsumeIntegral<std::uint8_t>());
            break;
        }
    }
    return 0;
}
