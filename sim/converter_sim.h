// A ZORM5816A converter in software: the protocol engine behind the in-process
// test port (sim_port.h) and the zorm5816-sim program.
//
// The engine knows nothing about time on the line. A transport feeds it the
// bytes the PC wrote, as they arrive and in pieces of any size, and sends back
// the replies it returns, each after its Delay. Pacing the reply at 9600 baud
// and the turnaround of the half-duplex line are the transport's business;
// LineTime() says how long bytes take on the line.
//
// Frames the converter understands (CR = 13, A = its address):
//   '%' 48+A CR                    -> '>' t1 t2 t3 t4 CR
//   '#' or '*' 48+A 48+ch CR       -> '>' 48+ch d1..d5 CR          (ch 1..3)
//   '!' A sel CR                   -> '>' 18 words low byte first, N, CR
//   '$' A code count CR            -> '>' code b0 b1 b2 (b0^b1^b2) CR
//   '&' A code count hi lo CR      -> '>' code CR
// A frame is recognised by its command byte and its fixed length, and only
// counts when CR stands at that length (data bytes may be 13 themselves).
// Bytes that cannot start a frame are dropped, as is a frame whose last byte
// is not CR (the engine then looks for a frame start after its first byte).
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace zorm::sim {

// What goes wrong with the replies. Every fault touches only replies to frames
// addressed to this converter.
enum class Fault {
    None,
    Silence,        // no reply at all
    ShortReply,     // the first three bytes only, and never the whole reply
    WrongFirstByte, // '?' instead of '>'
    WrongEcho,      // measurement: the echo names another channel
    MissingCr,      // the last byte is a blank instead of CR
    BadCheckByte,   // register read: the check byte does not match
    LateReply,      // the whole reply, but LateReplyDelay later
    Garbage,        // random bytes of the reply's length, never starting '>'
};

// The fault's name as the command line of zorm5816-sim spells it
// ("silence", "short", "first-byte", "echo", "no-cr", "check", "late",
// "garbage", "none"), and back; FaultFromName returns false for an unknown name.
std::string FaultName(Fault fault);
bool FaultFromName(const std::string& name, Fault& fault);

// How long n bytes take on a line at the given rate with 10 bits per byte
// (start, 8 data, stop), rounded up to whole microseconds.
std::chrono::microseconds LineTime(std::size_t bytes, std::uint32_t baudRate = 9600);

// AD7731 register numbers (bits 2..0 of the code byte).
enum AdcRegister : std::uint8_t {
    StatusRegister = 0,
    DataRegister = 1,
    ModeRegister = 2,
    FilterRegister = 3,
    OffsetRegister = 5,
    GainRegister = 6,
};

struct ConverterConfig {
    // The converter's own address (1..10 in practice).
    std::uint8_t Address = 1;
    // Also answer frames addressed to 0: a PC that has no settings yet sends
    // address 0 and still finds the converter.
    bool AnswerBroadcast = true;
    // The four type characters of the identification ("ZORM" + these + "A").
    std::array<char, 4> Type{'5', '8', '1', '6'};
    // Raw readings of channels 1..3 (index 0..2), sent as five digits, so
    // they are taken modulo 100000.
    std::array<std::int32_t, 3> Raw{21500, 22500, 23500};
    // With the model on, each channel swings slowly around its Raw value:
    //   Raw[i] + ModelSwing * sin(2 pi * (t / ModelPeriod + i / 3))
    // where t is the time the transport passes to Receive. One full swing
    // takes ten minutes, so a calibration sees a nearly steady sensor.
    bool TemperatureModel = false;
    std::int32_t ModelSwing = 400;
    std::chrono::milliseconds ModelPeriod{600'000};
    // The diagnostics: eighteen words and the count N.
    std::array<std::uint16_t, 18> DiagnosticWords{};
    std::uint8_t DiagnosticCount = 0;
    // How much later a LateReply fault sends the reply: past the PC's read
    // time-out of 1000 + 10 n ms for every reply length.
    std::chrono::milliseconds LateReplyDelay{1500};
    // A partial frame is dropped when its next byte comes more than this
    // after the previous one: the PC writes a frame in one go.
    std::chrono::milliseconds FrameGap{100};
    // Seed of the Garbage fault's bytes, so a run can be repeated.
    std::uint32_t Seed = 5816;
};

// One reply of the converter: the bytes, to be sent Delay after the frame
// that asked for it has come in (zero except for the LateReply fault).
struct Reply {
    std::vector<std::uint8_t> Bytes;
    std::chrono::milliseconds Delay{0};
};

// One frame the engine recognised, whether or not it answered it.
struct ReceivedFrame {
    std::vector<std::uint8_t> Bytes;
    std::chrono::milliseconds At{0}; // time of its last byte
    bool Answered = false;           // false when not addressed to us or silenced
};

class ConverterSim {
public:
    explicit ConverterSim(ConverterConfig config = {});

    // The settings; a change takes effect with the next frame.
    ConverterConfig& Config() { return config_; }
    const ConverterConfig& Config() const { return config_; }

    // Feeds bytes written by the PC, arriving at time `now` (any fixed origin,
    // non-decreasing). Returns the replies to every frame these bytes
    // completed, in order; usually none or one.
    std::vector<Reply> Receive(std::span<const std::uint8_t> bytes,
                               std::chrono::milliseconds now = std::chrono::milliseconds{0});

    // Sets the fault for every reply until it is changed.
    void SetFault(Fault fault);
    // Sets the fault for the next `replies` replies, then back to None.
    void SetFaultForNext(Fault fault, unsigned replies);
    Fault CurrentFault() const { return fault_; }

    // The reading channel 1..3 gives at time `now` (model included).
    std::int32_t RawAt(int channel, std::chrono::milliseconds now) const;

    // The register file, three bytes per register, index 0 the least
    // significant, in the order a register reply carries them. A write frame
    // stores its first data byte in index 1 and its second in index 0, so
    // what the PC writes it reads back in the same places. Status and data
    // are read-only; a measurement puts its reading into the data register.
    std::array<std::uint8_t, 3>& Register(AdcRegister reg) { return registers_[reg & 7]; }
    const std::array<std::uint8_t, 3>& Register(AdcRegister reg) const {
        return registers_[reg & 7];
    }

    // Every frame recognised since the start or the last ClearLog.
    const std::vector<ReceivedFrame>& Log() const { return log_; }
    void ClearLog() { log_.clear(); }
    // Bytes dropped because they did not make a frame.
    std::size_t DroppedBytes() const { return dropped_; }
    // Forgets a partial frame (a transport whose line was reopened).
    void ResetInput() { pending_.clear(); }

private:
    bool AddressedToUs(std::uint8_t addressByte, bool asCharacter) const;
    std::vector<std::uint8_t> Answer(const std::vector<std::uint8_t>& frame,
                                     std::chrono::milliseconds now);
    Reply ApplyFault(std::vector<std::uint8_t> reply, std::uint8_t command);

    ConverterConfig config_;
    std::array<std::array<std::uint8_t, 3>, 8> registers_{};
    std::vector<std::uint8_t> pending_;
    std::chrono::milliseconds lastByteAt_{0};
    Fault fault_ = Fault::None;
    unsigned faultReplies_ = 0; // 0: the fault stays until changed
    std::vector<ReceivedFrame> log_;
    std::size_t dropped_ = 0;
    std::mt19937 random_;
};

} // namespace zorm::sim
