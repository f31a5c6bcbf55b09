// The serial line to the converter and its five commands.
//
// Drv232 owns the one open port (PortHandle) and reads the device settings and
// writes LastReading and AdcRegBytes of the shared context. Every command is
// one frame written and one reply of fixed length read, synchronously.
#pragma once

#include "data/context.h"
#include "link/serial_port.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace zorm {

// Result texts of the identification and diagnostics commands.
inline constexpr const char* DeviceTypeError = "CHYBA";
inline constexpr const char* DiagnosticsError = "Chyba";

class Drv232 {
public:
    Drv232(Context& context, PortOpener opener);

    // The time-outs OpenPort gives the ports it opens from then on: the
    // converter's own (CommTimeouts{}) unless set otherwise. A scan of the
    // line waits less for a silent address than the identification does.
    void SetPortTimeouts(const CommTimeouts& timeouts) { timeouts_ = timeouts; }

    // Opens and configures COM port n. The port held before is replaced and,
    // as its owner lets go of it, closed. True only if the port opened and
    // both its line format and its time-outs were set; a port that opened but
    // could not be configured is closed again, and no port is held then.
    bool OpenPort(std::uint8_t n);
    // Closes the port; true when there was an open port and it closed cleanly.
    bool ClosePort();
    bool IsOpen() const { return PortHandle != nullptr; }

    // RTS to the transmit level, then LineDelayMs. Returns whether RTS moved.
    bool BeginTransmit();
    // LineDelayMs, then RTS to the receive level. Returns whether RTS moved.
    bool EndTransmit();

    // Identification: "ZORM" + four type characters + "A", or "CHYBA". Only a
    // reply of '>', four printable characters (0x20..0x7E) and CR counts.
    std::string ReadDeviceType();
    // One raw reading of channel 1..3 into LastReading. A reply with the right
    // echo and CR but other than five digits between them is false and leaves
    // LastReading alone; one without CR at its end is false and sets it to 0.
    bool MeasureChannel(std::uint8_t channel);
    // The diagnostics line "Vysledek: ...", or "Chyba".
    std::string ReadDiagnostics(std::uint8_t selector);
    // Reads the register chosen by the read selector into AdcRegBytes.
    bool ReadAdcRegister(std::uint8_t selector);
    // Writes AdcRegBytes index 1 and 0 to the register of the write selector.
    bool WriteAdcRegister(std::uint8_t selector);

private:
    // One exchange: RTS to transmit, drop whatever waits in the receive
    // queue, write the frame, RTS to receive (also when the drop or the write
    // failed), read `replyLength` bytes. The reply counts only when every
    // byte of it came and it starts with '>'; otherwise (closed port, failed
    // write, RTS or read, short or wrong reply) the result is empty.
    std::optional<std::vector<std::uint8_t>> Exchange(std::span<const std::uint8_t> frame,
                                                      std::size_t replyLength);

    Context& context_;
    PortOpener opener_;
    CommTimeouts timeouts_{};
    std::unique_ptr<SerialPort> PortHandle;
};

} // namespace zorm
