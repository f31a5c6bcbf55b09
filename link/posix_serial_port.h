// The serial line on Linux and other POSIX systems, over termios.
//
// The port is opened exclusively (flock, which also stops a second open in
// this process, and TIOCEXCL against other programs), runs raw 8N1, and
// imitates the Win32 time-out rules that the commands are written for: a read
// ends when all bytes are in, when the interval time-out passes after a byte,
// or at the total deadline; a write waits until its bytes have left the port.
#pragma once

#include "link/serial_port.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

namespace zorm {

class PosixSerialPort final : public SerialPort {
public:
    // Opens the terminal device at `path` exclusively; null when it is
    // missing, is no terminal, or is already open (here or elsewhere).
    static std::unique_ptr<PosixSerialPort> Open(const std::filesystem::path& path);

    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool SetLineFormat(const LineFormat& format) override;
    bool SetTimeouts(const CommTimeouts& timeouts) override;
    bool SetRts(bool asserted) override;
    bool Write(std::span<const std::uint8_t> bytes) override;
    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override;
    bool DiscardInput() override;
    void Sleep(std::chrono::milliseconds duration) override;
    bool Close() override;

private:
    explicit PosixSerialPort(int fd) : fd_(fd) {}
    // Waits until the output queue and the transmitter are empty, or until
    // `deadline` (nanoseconds on the monotonic clock) passes.
    bool DrainUntil(std::optional<std::int64_t> deadline);

    int fd_;
    CommTimeouts timeouts_{};
    // Time on the wire of one character: start bit, 8 data bits, parity
    // bit, stop bit.
    std::int64_t characterNs_ = 10 * 1'000'000'000LL / 9600;
    // Cleared once the driver turns out not to report its transmitter state.
    bool lineStatusSupported_ = true;
};

} // namespace zorm
