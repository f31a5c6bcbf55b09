// Replies that only look valid: noise in front of, inside and after a reply,
// doubled replies and late replies that land in the next command's read. The
// converter behind the port is the simulator; the port between puts the
// disturbance into the bytes that arrive.
#include "link/drv232.h"
#include "sim/converter_sim.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

enum class Disturbance { None, InFront, Inside, After, Doubled, Late };

const char* NameOf(Disturbance disturbance) {
    constexpr const char* Names[] = {"none",        "noise in front", "noise inside",
                                     "noise after", "doubled",        "late"};
    return Names[static_cast<int>(disturbance)];
}

// A port whose reads get what the converter sent, disturbed. Bytes left over
// from one exchange are what DiscardInput drops before the next frame; a late
// reply comes after that, in front of the next command's own reply.
class DisturbedPort final : public zorm::SerialPort {
public:
    DisturbedPort(zorm::sim::ConverterSim& converter, Disturbance& disturbance,
                  std::mt19937& random)
        : converter_(converter), disturbance_(disturbance), random_(random) {}

    bool SetLineFormat(const zorm::LineFormat&) override { return true; }
    bool SetTimeouts(const zorm::CommTimeouts&) override { return true; }
    bool SetRts(bool) override { return true; }
    void Sleep(std::chrono::milliseconds) override {}
    bool Close() override { return true; }
    bool DiscardInput() override {
        arrived_.clear();
        return true;
    }

    bool Write(std::span<const std::uint8_t> frame) override {
        arrived_ = std::move(late_);
        late_.clear();
        for (const auto& reply : converter_.Receive(frame)) {
            Arrive(reply.Bytes);
        }
        return true;
    }

    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        received = std::min(buffer.size(), arrived_.size());
        std::copy_n(arrived_.begin(), received, buffer.begin());
        arrived_.erase(arrived_.begin(), arrived_.begin() + static_cast<std::ptrdiff_t>(received));
        return true;
    }

private:
    Bytes Noise() {
        Bytes noise(std::uniform_int_distribution<std::size_t>(1, 12)(random_));
        for (auto& byte : noise) {
            byte = static_cast<std::uint8_t>(random_());
        }
        return noise;
    }

    void Arrive(const Bytes& reply) {
        Bytes bytes = reply;
        switch (disturbance_) {
        case Disturbance::None:
            break;
        case Disturbance::InFront:
            bytes = Noise();
            bytes.insert(bytes.end(), reply.begin(), reply.end());
            break;
        case Disturbance::Inside: {
            const Bytes noise = Noise();
            const auto at =
                std::uniform_int_distribution<std::size_t>(1, reply.size() - 1)(random_);
            bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(at), noise.begin(),
                         noise.end());
            break;
        }
        case Disturbance::After: {
            const Bytes noise = Noise();
            bytes.insert(bytes.end(), noise.begin(), noise.end());
            break;
        }
        case Disturbance::Doubled:
            bytes.insert(bytes.end(), reply.begin(), reply.end());
            break;
        case Disturbance::Late:
            late_.insert(late_.end(), reply.begin(), reply.end());
            return;
        }
        arrived_.insert(arrived_.end(), bytes.begin(), bytes.end());
    }

    zorm::sim::ConverterSim& converter_;
    Disturbance& disturbance_;
    std::mt19937& random_;
    Bytes arrived_;
    Bytes late_;
};

enum class Command { Identification, Measurement, Diagnostics, RegisterRead, RegisterWrite };
constexpr std::array AllCommands = {Command::Identification, Command::Measurement,
                                    Command::Diagnostics, Command::RegisterRead,
                                    Command::RegisterWrite};

constexpr std::int32_t ReadingBefore = -1;
constexpr zorm::AdcRegBytes RegBytesBefore{0xAA, 0xBB, 0xCC};
constexpr std::uint8_t GainSelector = 5;

// A link onto a converter whose every reply is known, and the oracle of
// what it sends for each command.
class Disturbed : public ::testing::Test {
protected:
    Disturbed() {
        auto& config = converter.Config();
        config.Type = {'5', '8', '1', '6'};
        config.Raw = {21500, 7, 99999};
        for (std::size_t k = 0; k < config.DiagnosticWords.size(); ++k) {
            config.DiagnosticWords[k] = static_cast<std::uint16_t>(1000 * k + 62);
        }
        config.DiagnosticCount = 18;
        converter.Register(zorm::sim::GainRegister) = {0x12, 0x34, 0x56};
        context.DeviceSettings.DeviceAddress = 1;
        EXPECT_TRUE(link.OpenPort(1));
    }

    // The diagnostics line of the words above.
    std::string DiagnosticsSent() const {
        std::string text = "Vysledek: ";
        for (const auto word : converter.Config().DiagnosticWords) {
            text += std::to_string(word) + "   ";
        }
        return text + "   N:18";
    }

    // Runs `command` and checks that it did not report a success with a value
    // the converter did not send for it. Where the reply's frame leaves the
    // decoding no means to tell (diagnostics and register replies hold no
    // more than '>' and a check byte), only disturbances that keep the reply
    // whole in the read are checked: `whole`.
    void RunAndCheck(Command command, int channel, bool whole) {
        context.LastReading = ReadingBefore;
        context.AdcRegBytes = RegBytesBefore;
        switch (command) {
        case Command::Identification: {
            const std::string type = link.ReadDeviceType();
            EXPECT_TRUE(type == zorm::DeviceTypeError || type == "ZORM5816A") << type;
            if (whole) {
                EXPECT_EQ(type, "ZORM5816A");
            }
            break;
        }
        case Command::Measurement: {
            const bool ok = link.MeasureChannel(static_cast<std::uint8_t>(channel));
            if (ok) {
                EXPECT_EQ(context.LastReading, converter.Config().Raw[channel - 1]);
            } else {
                EXPECT_TRUE(context.LastReading == ReadingBefore || context.LastReading == 0)
                    << context.LastReading;
            }
            EXPECT_TRUE(ok || !whole);
            break;
        }
        case Command::Diagnostics: {
            const std::string text = link.ReadDiagnostics(1);
            if (whole) {
                EXPECT_EQ(text, DiagnosticsSent());
            }
            break;
        }
        case Command::RegisterRead: {
            const bool ok = link.ReadAdcRegister(GainSelector);
            if (whole) {
                EXPECT_TRUE(ok);
                EXPECT_EQ(context.AdcRegBytes, (zorm::AdcRegBytes{0x12, 0x34, 0x56}));
            }
            break;
        }
        case Command::RegisterWrite: {
            context.AdcRegBytes = {0x34, 0x12, 0};
            const bool ok = link.WriteAdcRegister(3);
            EXPECT_TRUE(ok || !whole);
            converter.Register(zorm::sim::GainRegister) = {0x12, 0x34, 0x56};
            break;
        }
        }
    }

    zorm::Context context;
    zorm::sim::ConverterSim converter;
    Disturbance disturbance = Disturbance::None;
    std::mt19937 random{5816};
    zorm::Drv232 link{context, [this](std::uint8_t) {
                          return std::make_unique<DisturbedPort>(converter, disturbance, random);
                      }};
};

// Every command under noise in front, inside and after its reply and with its
// reply doubled, many times over, in random order: the identification and the
// measurement never report what was not sent; bytes after a whole reply
// never spoil it nor the next command.
TEST_F(Disturbed, NoiseAndDoubledRepliesNeverGiveAnotherValue) {
    constexpr std::array Disturbances = {Disturbance::InFront, Disturbance::Inside,
                                         Disturbance::After, Disturbance::Doubled};
    for (int round = 0; round < 4000 && !HasFailure(); ++round) {
        const Disturbance now = Disturbances[random() % Disturbances.size()];
        const Command command = AllCommands[random() % AllCommands.size()];
        const int channel = static_cast<int>(random() % 3) + 1;
        SCOPED_TRACE(std::string(NameOf(now)) + ", round " + std::to_string(round));
        disturbance = now;
        RunAndCheck(command, channel, now == Disturbance::After || now == Disturbance::Doubled);
        // An undisturbed exchange right after gets its own reply whole.
        disturbance = Disturbance::None;
        RunAndCheck(command, channel, true);
    }
}

// The reply to each command comes too late for its own read and lands in
// front of the next command's reply.
TEST_F(Disturbed, LateReplyInTheNextReadIsNeverTakenForItsReply) {
    for (const Command first : AllCommands) {
        for (const Command next : {Command::Identification, Command::Measurement}) {
            for (int channel = 1; channel <= 3; ++channel) {
                SCOPED_TRACE("command " + std::to_string(static_cast<int>(first)) + " late, then " +
                             std::to_string(static_cast<int>(next)) + " channel " +
                             std::to_string(channel));
                disturbance = Disturbance::Late;
                RunAndCheck(first, channel, false);
                disturbance = Disturbance::None;
                RunAndCheck(next, channel % 3 + 1, false);
                RunAndCheck(next, channel, true);
            }
        }
    }
}

} // namespace
