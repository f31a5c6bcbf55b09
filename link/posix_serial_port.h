// The serial line on Linux and other POSIX systems, over termios.
//
// The port is opened exclusively (flock, which also stops a second open in
// this process, and TIOCEXCL against other programs), runs raw 8N1, and
// imitates the Win32 time-out rules that the commands are written for: a read
// ends when all bytes are in, when the interval time-out passes after a byte,
// or at the total deadline; a write returns once the driver holds the bytes.
#pragma once

#include "link/serial_port.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <utility>

#include <sys/types.h>

namespace zorm {

// The calls through which the port reaches the terminal driver beyond
// reading and polling: write(2) and ioctl(2). These are the system's calls;
// a test puts in its own to answer as a particular kernel driver would (the
// output counts of a USB adapter, a driver without an RTS line) on a
// pseudo-terminal.
class TerminalDriver {
public:
    virtual ~TerminalDriver() = default;
    virtual ssize_t Write(int fd, const void* bytes, std::size_t count);
    // ioctl(fd, request, argument); every request the port makes takes a
    // pointer to an int, or nothing (null).
    virtual int Control(int fd, unsigned long request, int* argument);
};

class PosixSerialPort final : public SerialPort {
public:
    // Opens the terminal device at `path` exclusively; null when it is
    // missing, is no terminal, or is already open (here or elsewhere).
    static std::unique_ptr<PosixSerialPort>
    Open(const std::filesystem::path& path,
         std::shared_ptr<TerminalDriver> driver = std::make_shared<TerminalDriver>());

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
    PosixSerialPort(int fd, std::shared_ptr<TerminalDriver> driver)
        : fd_(fd), driver_(std::move(driver)) {}
    // Waits, if the frame last written is still on its way out, until it has
    // left or its write time-out has passed.
    void LetFrameLeave();
    // Whether the output queue and the transmitter are empty as far as the
    // driver tells; true when it cannot tell.
    bool OutputEmpty();

    int fd_;
    std::shared_ptr<TerminalDriver> driver_;
    CommTimeouts timeouts_{};
    // Time on the wire of one character: start bit, 8 data bits, parity
    // bit, stop bit.
    std::int64_t characterNs_ = 10 * 1'000'000'000LL / 9600;
    // Cleared once the driver turns out not to report its transmitter state.
    bool lineStatusSupported_ = true;
    // A frame was handed to the driver and has not been seen leaving yet;
    // it must have left by frameDeadline_ (none: no write time-out).
    bool frameLeaving_ = false;
    std::optional<std::int64_t> frameDeadline_;
};

} // namespace zorm
