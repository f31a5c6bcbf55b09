// A serial line to a simulated converter, inside the test process, on a
// virtual clock.
//
// A SimLine is the line with a ConverterSim on its far end. Open() gives the
// SerialPort that Drv232 takes over; the test keeps the SimLine (a handle:
// copies share the same line) to set faults, look at the converter and read
// the record of everything the port did. Nothing really sleeps: Sleep, writes
// and reads that wait for bytes or time out move the line's clock forward, so
// a silent converter costs no real time.
//
// Timing on the line (at the format's baud rate, 10 bits per byte):
//   - a write returns at once, as the driver takes the frame; the frame
//     then takes LineTime(n) on the line (after any frame still going out)
//     and reaches the converter with its last byte;
//   - a reply starts Turnaround() after the request's last byte (plus the
//     reply's own delay, for the late fault) and its bytes come one
//     LineTime(1) apart; the converter has one transmitter, so a reply never
//     starts before the one before it has ended;
//   - the line is half-duplex: the RTS level in force when a frame is
//     written is the PC's transmit level, and from the moment RTS took that
//     level until it leaves it the PC drives the line; every byte of the
//     converter that is on the line during that time is lost (Lost() counts
//     them). Until the port first sets RTS nothing is lost, as with an
//     adapter that turns by itself;
//   - SetRts lets the PC's frame leave first: RTS never turns under it;
//   - a read follows the CommTimeouts last set: it ends when all bytes are
//     in, when ReadInterval passes after a byte without the next, or at
//     ReadTotalConstant + n * ReadTotalMultiplier (both zero: no total
//     limit; a read without any limit and with nothing on its way ends at
//     once, where a real port would wait for ever); bytes that come later
//     stay queued for the next read unless DiscardInput drops them first;
//   - DiscardInput drops only bytes that have arrived by now.
// Time passes only through the port (and Advance), so a test that wants bytes
// of a late reply to have arrived before the next exchange advances the clock.
//
// Typical use:
//   zorm::sim::SimPorts ports;
//   zorm::sim::SimLine line = ports.Add(3);
//   zorm::Drv232 link(context, ports.Opener());
//   link.OpenPort(3);
//   line.Converter().SetFault(zorm::sim::Fault::Silence);
//   ... ports.Tried() lists 3; line.Events() holds the RTS changes, writes,
//   reads, discards and sleeps with their virtual times.
#pragma once

#include "link/serial_port.h"
#include "sim/converter_sim.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace zorm::sim {

// Virtual time of a line: microseconds since the line was made.
using VirtualTime = std::chrono::microseconds;

enum class EventKind {
    Open,
    SetLineFormat,
    SetTimeouts,
    SetRts,
    Write,
    Read,
    Discard,
    Sleep,
    Close
};

// One operation of the port, as the port was asked to do it.
struct LineEvent {
    EventKind Kind = EventKind::Open;
    VirtualTime At{0};       // when it began
    VirtualTime Duration{0}; // how long it took (Write, Read, Sleep)
    bool Ok = true;          // what the port reported
    bool Rts = false;        // SetRts: the level asked for (true = asserted)
    // Write: the frame; Read: the bytes received; Discard: the bytes dropped.
    std::vector<std::uint8_t> Bytes{};
    std::size_t Requested = 0; // Read: how many bytes were asked for
};

// Switches that make single port operations fail, as a broken driver would.
// A failing operation changes nothing and takes no time.
struct PortFaults {
    bool SetLineFormatFails = false;
    bool SetTimeoutsFails = false;
    bool SetRtsFails = false;
    bool WriteFails = false;
    bool ReadFails = false;
    bool DiscardFails = false;
};

class SimLine {
public:
    explicit SimLine(ConverterConfig config = {});

    // The port onto this line, or null while a port onto it is open
    // (exclusive access). The port closes when Close() is called on it or
    // when it is destroyed.
    std::unique_ptr<SerialPort> Open();
    bool IsOpen() const;

    ConverterSim& Converter();
    PortFaults& Faults();

    VirtualTime Now() const;
    // Lets time pass with nothing happening on the line.
    void Advance(VirtualTime duration);
    // Time from the last byte of a frame to the first byte of its reply;
    // 25 ms unless set: the converter waits until the PC has let go of the
    // half-duplex line, 20 ms after the frame was handed over.
    VirtualTime Turnaround() const;
    void SetTurnaround(VirtualTime turnaround);

    // Everything the ports onto this line did, oldest first.
    const std::vector<LineEvent>& Events() const;
    void ClearEvents();

    // The RTS level last set successfully; empty before the first change.
    std::optional<bool> Rts() const;
    // The line format and time-outs last set successfully; empty before.
    std::optional<LineFormat> Format() const;
    std::optional<CommTimeouts> Timeouts() const;
    // Bytes that have arrived and wait to be read.
    std::size_t Waiting() const;
    // Bytes of the converter lost because the PC still drove the line.
    std::size_t Lost() const;

    // The line itself, shared by every handle and by the open port.
    struct State;

private:
    std::shared_ptr<State> state_;
};

// Several lines by port number, and the PortOpener over them. A number
// without a line has no port: opening it gives null. The opener records
// every number it is asked for, in order, whatever the outcome.
class SimPorts {
public:
    SimPorts();

    // Puts a new line with a converter of `config` at port n (replacing
    // whatever was there) and returns its handle.
    SimLine Add(std::uint8_t n, ConverterConfig config = {});
    // Takes the port away again; a port already open on it stays usable.
    void Remove(std::uint8_t n);

    // Stays valid after this object is gone.
    PortOpener Opener() const;
    std::vector<std::uint8_t> Tried() const;
    void ClearTried();

private:
    struct State;
    std::shared_ptr<State> state_;
};

} // namespace zorm::sim
