#include "sim/converter_sim.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace zorm::sim {

namespace {

constexpr std::uint8_t Cr = 13;
constexpr std::uint8_t Good = '>';

// Length of the frame a command byte starts, or 0 for a byte that starts none.
std::size_t FrameLength(std::uint8_t command) {
    switch (command) {
    case '%':
        return 3;
    case '#':
    case '*':
    case '!':
        return 4;
    case '$':
        return 5;
    case '&':
        return 7;
    default:
        return 0;
    }
}

struct FaultNameEntry {
    Fault fault;
    const char* name;
};

constexpr FaultNameEntry FaultNames[] = {
    {Fault::None, "none"},          {Fault::Silence, "silence"},
    {Fault::ShortReply, "short"},   {Fault::WrongFirstByte, "first-byte"},
    {Fault::WrongEcho, "echo"},     {Fault::MissingCr, "no-cr"},
    {Fault::BadCheckByte, "check"}, {Fault::LateReply, "late"},
    {Fault::Garbage, "garbage"},
};

} // namespace

std::string FaultName(Fault fault) {
    for (const auto& entry : FaultNames) {
        if (entry.fault == fault) {
            return entry.name;
        }
    }
    return "none";
}

bool FaultFromName(const std::string& name, Fault& fault) {
    for (const auto& entry : FaultNames) {
        if (name == entry.name) {
            fault = entry.fault;
            return true;
        }
    }
    return false;
}

std::chrono::microseconds LineTime(std::size_t bytes, std::uint32_t baudRate) {
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes) * 10 * 1'000'000;
    return std::chrono::microseconds{(bits + baudRate - 1) / baudRate};
}

ConverterSim::ConverterSim(ConverterConfig config)
    : config_(std::move(config)), random_(config_.Seed) {
    // The AD7731's power-on contents, index 0 the least significant byte.
    registers_[ModeRegister] = {0x74, 0x01, 0x00};
    registers_[FilterRegister] = {0x02, 0x20, 0x00};
    registers_[OffsetRegister] = {0x00, 0x00, 0x80};
    registers_[GainRegister] = {0xE7, 0xAE, 0x59};
}

void ConverterSim::SetFault(Fault fault) {
    fault_ = fault;
    faultReplies_ = 0;
}

void ConverterSim::SetFaultForNext(Fault fault, unsigned replies) {
    fault_ = replies == 0 ? Fault::None : fault;
    faultReplies_ = replies;
}

std::int32_t ConverterSim::RawAt(int channel, std::chrono::milliseconds now) const {
    if (channel < 1 || channel > 3) {
        return 0;
    }
    const int i = channel - 1;
    std::int64_t value = config_.Raw[i];
    if (config_.TemperatureModel && config_.ModelPeriod.count() > 0) {
        const double phase =
            static_cast<double>(now.count()) / static_cast<double>(config_.ModelPeriod.count()) +
            i / 3.0;
        value += std::lround(config_.ModelSwing * std::sin(2 * std::numbers::pi * phase));
    }
    value %= 100000;
    if (value < 0) {
        value += 100000;
    }
    return static_cast<std::int32_t>(value);
}

std::vector<Reply> ConverterSim::Receive(std::span<const std::uint8_t> bytes,
                                         std::chrono::milliseconds now) {
    if (!pending_.empty() && now - lastByteAt_ > config_.FrameGap) {
        dropped_ += pending_.size();
        pending_.clear();
    }
    if (!bytes.empty()) {
        lastByteAt_ = now;
    }
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());

    std::vector<Reply> replies;
    std::size_t start = 0;
    while (start < pending_.size()) {
        const std::size_t length = FrameLength(pending_[start]);
        if (length == 0) {
            ++dropped_;
            ++start;
            continue;
        }
        if (pending_.size() - start < length) {
            break; // wait for the rest of the frame
        }
        if (pending_[start + length - 1] != Cr) {
            ++dropped_;
            ++start;
            continue;
        }
        std::vector<std::uint8_t> frame(pending_.begin() + static_cast<std::ptrdiff_t>(start),
                                        pending_.begin() +
                                            static_cast<std::ptrdiff_t>(start + length));
        start += length;

        ReceivedFrame logged{frame, now, false};
        std::vector<std::uint8_t> answer = Answer(frame, now);
        if (!answer.empty()) {
            Reply reply = ApplyFault(std::move(answer), frame[0]);
            logged.Answered = !reply.Bytes.empty();
            if (logged.Answered) {
                replies.push_back(std::move(reply));
            }
        }
        log_.push_back(std::move(logged));
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(start));
    return replies;
}

bool ConverterSim::AddressedToUs(std::uint8_t addressByte, bool asCharacter) const {
    const std::uint8_t base = asCharacter ? 48 : 0;
    if (addressByte == static_cast<std::uint8_t>(base + config_.Address)) {
        return true;
    }
    return config_.AnswerBroadcast && addressByte == base;
}

std::vector<std::uint8_t> ConverterSim::Answer(const std::vector<std::uint8_t>& frame,
                                               std::chrono::milliseconds now) {
    const std::uint8_t command = frame[0];
    switch (command) {
    case '%': {
        if (!AddressedToUs(frame[1], true)) {
            return {};
        }
        std::vector<std::uint8_t> reply{Good};
        for (char c : config_.Type) {
            reply.push_back(static_cast<std::uint8_t>(c));
        }
        reply.push_back(Cr);
        return reply;
    }
    case '#':
    case '*': {
        // Both the filtered and the unfiltered measurement give the model's
        // reading; the frame log tells them apart.
        const int channel = frame[2] - 48;
        if (!AddressedToUs(frame[1], true) || channel < 1 || channel > 3) {
            return {};
        }
        const std::int32_t raw = RawAt(channel, now);
        auto& data = registers_[DataRegister];
        data = {static_cast<std::uint8_t>(raw), static_cast<std::uint8_t>(raw >> 8),
                static_cast<std::uint8_t>(raw >> 16)};
        std::vector<std::uint8_t> reply{Good, frame[2]};
        std::int32_t divisor = 10000;
        for (int digit = 0; digit < 5; ++digit) {
            reply.push_back(static_cast<std::uint8_t>('0' + raw / divisor % 10));
            divisor /= 10;
        }
        reply.push_back(Cr);
        return reply;
    }
    case '!': {
        if (!AddressedToUs(frame[1], false)) {
            return {};
        }
        std::vector<std::uint8_t> reply{Good};
        for (std::uint16_t word : config_.DiagnosticWords) {
            reply.push_back(static_cast<std::uint8_t>(word & 0xFF));
            reply.push_back(static_cast<std::uint8_t>(word >> 8));
        }
        reply.push_back(config_.DiagnosticCount);
        reply.push_back(Cr);
        return reply;
    }
    case '$': {
        if (!AddressedToUs(frame[1], false)) {
            return {};
        }
        // Whatever the count byte says, the reply carries three bytes; a
        // register narrower than that reads zeros in its upper places.
        const std::uint8_t code = frame[2];
        const auto& reg = registers_[code & 7];
        return {Good,   code,   reg[0],
                reg[1], reg[2], static_cast<std::uint8_t>(reg[0] ^ reg[1] ^ reg[2]),
                Cr};
    }
    case '&': {
        if (!AddressedToUs(frame[1], false)) {
            return {};
        }
        // Only a write code (bits 5..4 clear) to a writable register stores
        // anything; every write frame is acknowledged.
        const std::uint8_t code = frame[2];
        const std::uint8_t reg = code & 7;
        const bool writable = reg == ModeRegister || reg == FilterRegister ||
                              reg == OffsetRegister || reg == GainRegister;
        if ((code & 0x30) == 0 && writable) {
            registers_[reg][1] = frame[4];
            registers_[reg][0] = frame[5];
        }
        return {Good, code, Cr};
    }
    default:
        return {};
    }
}

Reply ConverterSim::ApplyFault(std::vector<std::uint8_t> bytes, std::uint8_t command) {
    const Fault fault = fault_;
    if (faultReplies_ > 0 && --faultReplies_ == 0) {
        fault_ = Fault::None;
    }

    Reply reply{std::move(bytes), std::chrono::milliseconds{0}};
    auto& out = reply.Bytes;
    switch (fault) {
    case Fault::None:
        break;
    case Fault::Silence:
        out.clear();
        break;
    case Fault::ShortReply:
        out.resize(std::min<std::size_t>(3, out.size() - 1));
        break;
    case Fault::WrongFirstByte:
        out[0] = '?';
        break;
    case Fault::WrongEcho:
        if (command == '#' || command == '*') {
            // Another channel of the three, still a digit.
            out[1] = static_cast<std::uint8_t>('1' + (out[1] - '1' + 1) % 3);
        }
        break;
    case Fault::MissingCr:
        out.back() = ' ';
        break;
    case Fault::BadCheckByte:
        if (command == '$') {
            out[5] ^= 0x01;
        }
        break;
    case Fault::LateReply:
        reply.Delay = config_.LateReplyDelay;
        break;
    case Fault::Garbage:
        for (auto& byte : out) {
            byte = static_cast<std::uint8_t>(random_());
        }
        if (out[0] == Good) {
            out[0] = static_cast<std::uint8_t>(~Good);
        }
        break;
    }
    return reply;
}

} // namespace zorm::sim
