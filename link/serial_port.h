// The seam between the converter commands and a serial line. The POSIX and
// Win32 backends and the in-process simulator port implement it; the commands
// are written once against it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace zorm {

enum class Parity { None, Even };

struct LineFormat {
    std::uint32_t BaudRate = 9600;
    zorm::Parity Parity = zorm::Parity::None; // 8 data bits and one stop bit always
};

// The line format that BaudSelect chooses: 1 is 9600 baud without parity,
// anything else 115200 baud with even parity.
LineFormat LineFormatFor(std::uint8_t baudSelect);

// Time-outs in milliseconds, with the meaning of the Win32 COMMTIMEOUTS: a
// read of n bytes ends when n bytes are in, when more than ReadInterval passes
// between two received bytes (counted only after the first byte), or after
// ReadTotalConstant + n * ReadTotalMultiplier in all; a write of n bytes may
// take at most WriteTotalConstant + n * WriteTotalMultiplier.
struct CommTimeouts {
    std::uint32_t ReadInterval = 20;
    std::uint32_t ReadTotalMultiplier = 10;
    std::uint32_t ReadTotalConstant = 1000;
    std::uint32_t WriteTotalMultiplier = 20;
    std::uint32_t WriteTotalConstant = 20;
};

// The total time-out of an operation on `count` bytes, `constantMs` +
// `count` * `perByteMs` milliseconds; none when both values are zero (no
// total limit). A sum beyond what nanoseconds can hold is held at the largest.
std::optional<std::chrono::nanoseconds> TotalTimeout(std::uint32_t constantMs,
                                                     std::uint32_t perByteMs, std::size_t count);

// `at` + `after` for a non-negative `after`, held at the largest value
// instead of overflowing.
template <class Rep, class Period>
constexpr std::chrono::duration<Rep, Period>
SaturatingSum(std::chrono::duration<Rep, Period> at, std::chrono::duration<Rep, Period> after) {
    using Duration = std::chrono::duration<Rep, Period>;
    return at > Duration::max() - after ? Duration::max() : at + after;
}

class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual bool SetLineFormat(const LineFormat& format) = 0;
    virtual bool SetTimeouts(const CommTimeouts& timeouts) = 0;
    // Asserts (true) or clears (false) RTS. A line without modem-control
    // signals has no direction to switch, and the switch counts as done. A
    // port that can tell lets a frame still on its way out leave first
    // (within the frame's write time-out): the line never turns under it.
    virtual bool SetRts(bool asserted) = 0;
    // Hands all bytes to the driver within the write time-out and returns as
    // soon as the driver holds them, not when they have left: the direction
    // guard after a frame counts from here and covers its time on the line.
    // False if not all of them could be handed over.
    virtual bool Write(std::span<const std::uint8_t> bytes) = 0;
    // Reads up to buffer.size() bytes within the read time-outs. A time-out is
    // success with fewer bytes (possibly none), reported in `received`; false
    // only on an error of the port.
    virtual bool Read(std::span<std::uint8_t> buffer, std::size_t& received) = 0;
    // Drops whatever has arrived and not been read yet.
    virtual bool DiscardInput() = 0;
    // The direction guard waits. A port backed by a simulated clock may
    // advance that clock instead of sleeping.
    virtual void Sleep(std::chrono::milliseconds duration) = 0;
    virtual bool Close() = 0;
};

// Opens port n exclusively (COMn), or returns null when the port is missing
// or already in use. The port is not configured yet.
using PortOpener = std::function<std::unique_ptr<SerialPort>(std::uint8_t n)>;

// The opener of the platform: POSIX or Win32.
PortOpener SystemPortOpener();

} // namespace zorm
