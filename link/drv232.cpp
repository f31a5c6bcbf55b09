#include "link/drv232.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <utility>

namespace zorm {

namespace {

constexpr std::uint8_t Cr = 13;
constexpr std::uint8_t ReplyStart = '>';

bool IsPrintable(std::uint8_t byte) {
    return byte >= 0x20 && byte <= 0x7E;
}

bool IsDigit(std::uint8_t byte) {
    return byte >= '0' && byte <= '9';
}

// Identification and measurement carry the address as a character, the other
// three commands as the plain byte.
std::uint8_t AddressCharacter(std::uint8_t address) {
    return static_cast<std::uint8_t>(48 + address);
}

struct RegisterChoice {
    std::uint8_t Code;
    std::uint8_t Count;
};

// Indexed by the items of the register window's lists. Any other selector
// (no item chosen) reads the status register and writes code 0.
RegisterChoice ReadChoice(std::uint8_t selector) {
    static constexpr std::array<RegisterChoice, 6> Table{{
        {0x10, 1}, // status
        {0x11, 3}, // data
        {0x12, 2}, // mode
        {0x13, 2}, // filter
        {0x15, 1}, // offset
        {0x16, 1}, // gain
    }};
    return selector < Table.size() ? Table[selector] : RegisterChoice{0x10, 1};
}

RegisterChoice WriteChoice(std::uint8_t selector) {
    static constexpr std::array<RegisterChoice, 4> Table{{
        {0x02, 2}, // mode
        {0x03, 2}, // filter
        {0x05, 1}, // offset
        {0x06, 1}, // gain
    }};
    return selector < Table.size() ? Table[selector] : RegisterChoice{0x00, 1};
}

} // namespace

Drv232::Drv232(Context& context, PortOpener opener)
    : context_(context), opener_(std::move(opener)) {}

bool Drv232::OpenPort(std::uint8_t n) {
    PortHandle = opener_(n);
    if (!PortHandle) {
        return false;
    }
    // Both settings are tried even when the first fails.
    const bool formatSet = PortHandle->SetLineFormat(LineFormatFor(BaudSelect));
    const bool timeoutsSet = PortHandle->SetTimeouts(timeouts_);
    if (formatSet && timeoutsSet) {
        return true;
    }
    // A port we cannot configure is no use to anyone; let it go at once
    // rather than keep it locked until the program ends.
    PortHandle->Close();
    PortHandle.reset();
    return false;
}

bool Drv232::ClosePort() {
    if (!PortHandle) {
        return false;
    }
    const bool closed = PortHandle->Close();
    PortHandle.reset();
    return closed;
}

bool Drv232::BeginTransmit() {
    if (!PortHandle) {
        return false;
    }
    const bool moved = PortHandle->SetRts(context_.DeviceSettings.RtsOnTransmit != 0);
    PortHandle->Sleep(std::chrono::milliseconds{LineDelayMs});
    return moved;
}

bool Drv232::EndTransmit() {
    if (!PortHandle) {
        return false;
    }
    PortHandle->Sleep(std::chrono::milliseconds{LineDelayMs});
    return PortHandle->SetRts(context_.DeviceSettings.RtsOnTransmit == 0);
}

std::optional<std::vector<std::uint8_t>> Drv232::Exchange(std::span<const std::uint8_t> frame,
                                                          std::size_t replyLength) {
    BeginTransmit(); // a stuck direction line does not stop the frame
    if (!PortHandle) {
        return std::nullopt;
    }
    // Bytes of an earlier reply that came after its read had given up must
    // not pass for the start of this one. If they cannot be dropped, no
    // reply could be trusted, so the frame is not sent either.
    const bool sent = PortHandle->DiscardInput() && PortHandle->Write(frame);
    // The line goes back to receive whether or not the frame went out: left
    // driven, it would block every other device on it.
    if (!EndTransmit() || !sent) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> reply(replyLength, 0);
    std::size_t received = 0;
    if (!PortHandle->Read(reply, received)) {
        return std::nullopt;
    }
    if (received < replyLength || reply[0] != ReplyStart) {
        return std::nullopt;
    }
    return reply;
}

std::string Drv232::ReadDeviceType() {
    const std::uint8_t frame[] = {'%', AddressCharacter(context_.DeviceSettings.DeviceAddress), Cr};
    const auto reply = Exchange(frame, 6);
    // Noise in front of the reply or a stale reply to another command would
    // otherwise pass for a converter that is not there: the four type
    // characters are printable and the reply ends with CR.
    if (!reply || (*reply)[5] != Cr ||
        !std::all_of(reply->begin() + 1, reply->begin() + 5, IsPrintable)) {
        return DeviceTypeError;
    }
    std::string type = "ZORM";
    type.append(reply->begin() + 1, reply->begin() + 5);
    type.push_back('A');
    return type;
}

bool Drv232::MeasureChannel(std::uint8_t channel) {
    const auto& settings = context_.DeviceSettings;
    const std::uint8_t echo = AddressCharacter(channel);
    const std::uint8_t frame[] = {static_cast<std::uint8_t>(settings.FilterOn != 0 ? '#' : '*'),
                                  AddressCharacter(settings.DeviceAddress), echo, Cr};
    const auto reply = Exchange(frame, 8);
    if (!reply || (*reply)[1] != echo) {
        return false;
    }
    if ((*reply)[7] != Cr) {
        context_.LastReading = 0;
        return false;
    }
    // Anything but five digits is no reading, whatever frames it.
    const auto digits = std::span(*reply).subspan(2, 5);
    if (!std::all_of(digits.begin(), digits.end(), IsDigit)) {
        return false;
    }
    std::int32_t reading = 0;
    for (const std::uint8_t digit : digits) {
        reading = reading * 10 + (digit - '0');
    }
    context_.LastReading = reading;
    return true;
}

std::string Drv232::ReadDiagnostics(std::uint8_t selector) {
    const std::uint8_t frame[] = {'!', context_.DeviceSettings.DeviceAddress, selector, Cr};
    const auto reply = Exchange(frame, 39);
    if (!reply) {
        return DiagnosticsError;
    }
    std::string text = "Vysledek: ";
    for (std::size_t k = 1; k <= 18; ++k) {
        const std::int32_t word = (*reply)[2 * k - 1] + 256 * (*reply)[2 * k];
        context_.LastReading = word;
        text += std::to_string(word);
        text += "   ";
    }
    text += "   N:";
    text += std::to_string((*reply)[37]);
    return text;
}

bool Drv232::ReadAdcRegister(std::uint8_t selector) {
    const RegisterChoice choice = ReadChoice(selector);
    const std::uint8_t frame[] = {'$', context_.DeviceSettings.DeviceAddress, choice.Code,
                                  choice.Count, Cr};
    const auto reply = Exchange(frame, 7);
    if (!reply) {
        return false;
    }
    // Stored even when the check byte disagrees, so the bytes can be seen.
    auto& bytes = context_.AdcRegBytes;
    bytes = {(*reply)[2], (*reply)[3], (*reply)[4]};
    return (bytes[0] ^ bytes[1] ^ bytes[2]) == (*reply)[5];
}

bool Drv232::WriteAdcRegister(std::uint8_t selector) {
    const RegisterChoice choice = WriteChoice(selector);
    const auto& bytes = context_.AdcRegBytes;
    const std::uint8_t frame[] = {
        '&', context_.DeviceSettings.DeviceAddress, choice.Code, choice.Count, bytes[1], bytes[0],
        Cr};
    return Exchange(frame, 3).has_value();
}

} // namespace zorm
