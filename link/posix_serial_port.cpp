#include "link/posix_serial_port.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <string>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace zorm {

namespace {

constexpr std::int64_t NsPerMs = 1'000'000;
constexpr std::int64_t NsPerSecond = 1'000'000'000;

std::int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t{ts.tv_sec} * NsPerSecond + ts.tv_nsec;
}

timespec ToTimespec(std::int64_t ns) {
    return timespec{static_cast<time_t>(ns / NsPerSecond), static_cast<long>(ns % NsPerSecond)};
}

// The monotonic time `timeout` after `start`, held at the largest value for
// a huge time-out; none without a time-out.
std::optional<std::int64_t> DeadlineAfter(std::int64_t start,
                                          std::optional<std::chrono::nanoseconds> timeout) {
    if (!timeout) {
        return std::nullopt;
    }
    return SaturatingSum(std::chrono::nanoseconds{start}, *timeout).count();
}

// Sleeps until the monotonic clock reaches `deadline`; signals do not cut the
// wait short.
void SleepUntil(std::int64_t deadline) {
    const timespec until = ToTimespec(deadline);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

// Waits for `events` on fd until `deadline` (none: no limit). Returns the
// revents, 0 on time-out, -1 on an error of poll itself.
int WaitFor(int fd, short events, std::optional<std::int64_t> deadline) {
    for (;;) {
        pollfd p{fd, events, 0};
        timespec remaining{};
        const timespec* limit = nullptr;
        if (deadline) {
            const std::int64_t left = *deadline - NowNs();
            if (left <= 0) {
                return 0;
            }
            remaining = ToTimespec(left);
            limit = &remaining;
        }
        const int r = ppoll(&p, 1, limit, nullptr);
        if (r < 0 && errno == EINTR) {
            continue; // the deadline stays where it was
        }
        if (r < 0) {
            return -1;
        }
        if (r > 0) {
            return p.revents;
        }
        // Timed out: the loop head decides against the clock we measure by.
    }
}

speed_t SpeedFor(std::uint32_t baud) {
    switch (baud) {
    case 1200:
        return B1200;
    case 2400:
        return B2400;
    case 4800:
        return B4800;
    case 9600:
        return B9600;
    case 19200:
        return B19200;
    case 38400:
        return B38400;
    case 57600:
        return B57600;
    case 115200:
        return B115200;
    default:
        return B0;
    }
}

} // namespace

ssize_t TerminalDriver::Write(int fd, const void* bytes, std::size_t count) {
    return ::write(fd, bytes, count);
}

int TerminalDriver::Control(int fd, unsigned long request, int* argument) {
    return ::ioctl(fd, request, argument);
}

std::unique_ptr<PosixSerialPort> PosixSerialPort::Open(const std::filesystem::path& path,
                                                       std::shared_ptr<TerminalDriver> driver) {
    if (path.empty()) {
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    // flock refuses a second open file description of the same device, also
    // one in this very process; TIOCEXCL makes the kernel refuse opens by other
    // programs (except root's) while we hold the port.
    if (!isatty(fd) || flock(fd, LOCK_EX | LOCK_NB) != 0 ||
        driver->Control(fd, TIOCEXCL, nullptr) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<PosixSerialPort>(new PosixSerialPort(fd, std::move(driver)));
}

PosixSerialPort::~PosixSerialPort() {
    Close();
}

bool PosixSerialPort::SetLineFormat(const LineFormat& format) {
    const speed_t speed = SpeedFor(format.BaudRate);
    if (fd_ < 0 || speed == B0) {
        return false;
    }
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) {
        return false;
    }
    // Raw bytes both ways, whatever the program before us left behind: no
    // flow control, no character translation or stripping, no line editing,
    // no signals; the modem lines are ignored and the receiver is on.
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP |
                                          PARMRK | INPCK | BRKINT | IGNBRK | IUCLC | IMAXBEL);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ECHOE | ECHOK | ECHONL | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | PARENB | PARODD | CMSPAR | CSTOPB | CSIZE);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    if (format.Parity == Parity::Even) {
        tio.c_cflag |= PARENB;
    }
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) {
        return false;
    }
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) {
        return false;
    }
    // tcsetattr succeeds when any part of the change took; check the parts
    // that would spoil the bytes. A parity bit that we asked for is not
    // checked: a pty, for one, never keeps PARENB.
    termios now{};
    if (tcgetattr(fd_, &now) != 0 || cfgetospeed(&now) != speed ||
        (now.c_cflag & (CSIZE | CSTOPB | CRTSCTS)) != CS8 ||
        (format.Parity == Parity::None && (now.c_cflag & PARENB) != 0) ||
        (now.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | PARMRK)) != 0 ||
        (now.c_oflag & OPOST) != 0 || (now.c_lflag & (ICANON | ECHO | ISIG)) != 0) {
        return false;
    }
    const int bits = 1 + 8 + (format.Parity == Parity::Even ? 1 : 0) + 1;
    characterNs_ = bits * NsPerSecond / format.BaudRate;
    return true;
}

bool PosixSerialPort::SetTimeouts(const CommTimeouts& timeouts) {
    if (fd_ < 0) {
        return false;
    }
    timeouts_ = timeouts;
    return true;
}

bool PosixSerialPort::SetRts(bool asserted) {
    if (fd_ < 0) {
        return false;
    }
    LetFrameLeave();
    int bit = TIOCM_RTS;
    if (driver_->Control(fd_, asserted ? TIOCMBIS : TIOCMBIC, &bit) == 0) {
        return true;
    }
    // A driver without modem-control lines has no direction to switch, so
    // the switch is done. It says so with ENOTTY (a pseudo-terminal, and
    // usb-serial since Linux 5.13), EINVAL (usb-serial before) or EOPNOTSUPP
    // (some cdc-acm devices).
    return errno == ENOTTY || errno == EINVAL || errno == EOPNOTSUPP;
}

bool PosixSerialPort::Write(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0) {
        return false;
    }
    // Both write values zero mean no limit, as on Windows.
    const std::optional<std::int64_t> deadline =
        DeadlineAfter(NowNs(), TotalTimeout(timeouts_.WriteTotalConstant,
                                            timeouts_.WriteTotalMultiplier, bytes.size()));
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = driver_->Write(fd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int revents = WaitFor(fd_, POLLOUT, deadline);
            if (revents == 0) {
                tcflush(fd_, TCOFLUSH); // what did not fit in time must not go later
                return false;
            }
            if (revents < 0 || (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                return false;
            }
            continue;
        }
        return false;
    }
    // The driver holds the frame. Waiting here for it to leave would start
    // the direction guard late: a USB adapter's driver counts busy transfer
    // buffers, not bytes, and even an exact count would add the frame's own
    // line time, which the guard already covers.
    frameLeaving_ = true;
    frameDeadline_ = deadline;
    return true;
}

void PosixSerialPort::LetFrameLeave() {
    if (!frameLeaving_) {
        return;
    }
    frameLeaving_ = false;
    // Normally the frame has long left when the line turns, and one look
    // says so. A frame longer than the guard, or one that the adapter still
    // holds, is waited for in polls of one character time.
    while (!OutputEmpty()) {
        const std::int64_t now = NowNs();
        if (frameDeadline_ && now >= *frameDeadline_) {
            tcflush(fd_, TCOFLUSH); // what did not leave in time must not go later
            return;
        }
        std::int64_t wake = now + characterNs_;
        if (frameDeadline_) {
            wake = std::min(wake, *frameDeadline_);
        }
        SleepUntil(wake);
    }
}

bool PosixSerialPort::OutputEmpty() {
    int queued = 0;
    if (driver_->Control(fd_, TIOCOUTQ, &queued) != 0) {
        return true; // no way to tell: the guard has to do
    }
    if (queued != 0 || !lineStatusSupported_) {
        return queued == 0;
    }
    // The driver's queue is empty; the UART may still be shifting out the
    // last character.
    int lsr = 0;
    if (driver_->Control(fd_, TIOCSERGETLSR, &lsr) != 0) {
        lineStatusSupported_ = false; // a pty or a driver that does not tell
        return true;
    }
    return (lsr & TIOCSER_TEMT) != 0;
}

bool PosixSerialPort::Read(std::span<std::uint8_t> buffer, std::size_t& received) {
    received = 0;
    if (fd_ < 0) {
        return false;
    }
    const std::int64_t start = NowNs();
    // Zero total values mean no total limit and a zero interval no interval
    // limit, as on Windows.
    const std::optional<std::int64_t> totalDeadline =
        DeadlineAfter(start, TotalTimeout(timeouts_.ReadTotalConstant,
                                          timeouts_.ReadTotalMultiplier, buffer.size()));
    const std::int64_t intervalNs = std::int64_t{timeouts_.ReadInterval} * NsPerMs;
    std::int64_t lastByte = 0;

    while (received < buffer.size()) {
        // The interval time-out runs only once the first byte is in.
        std::optional<std::int64_t> deadline = totalDeadline;
        if (received > 0 && intervalNs > 0) {
            const std::int64_t intervalDeadline = lastByte + intervalNs;
            deadline = deadline ? std::min(*deadline, intervalDeadline) : intervalDeadline;
        }
        const int revents = WaitFor(fd_, POLLIN, deadline);
        if (revents == 0) {
            return true; // time-out: success with what arrived
        }
        if (revents < 0 || (revents & POLLNVAL) != 0) {
            return false;
        }
        // Readable, hung up or in error: the read itself says which.
        const ssize_t n = ::read(fd_, buffer.data() + received, buffer.size() - received);
        if (n > 0) {
            received += static_cast<std::size_t>(n);
            lastByte = NowNs();
            continue;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) {
            continue;
        }
        // Nothing to read although poll said there was: the device is gone
        // (a USB adapter pulled out, the far end of a pty closed). That is an
        // error of the port, not a silent converter.
        return false;
    }
    return true;
}

bool PosixSerialPort::DiscardInput() {
    return fd_ >= 0 && tcflush(fd_, TCIFLUSH) == 0;
}

void PosixSerialPort::Sleep(std::chrono::milliseconds duration) {
    // The guards around a frame are what an exchange mostly waits for; the
    // thread's default timer slack (50 us) would add to each of them. It is
    // narrowed for the guard only and then given back.
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);
    SleepUntil(NowNs() + std::chrono::nanoseconds(duration).count());
    if (slack > 0) {
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0, 0, 0);
    }
}

bool PosixSerialPort::Close() {
    if (fd_ < 0) {
        return false;
    }
    // The exclusive flag belongs to the terminal, not to our descriptor; on a
    // terminal that someone else keeps open (a simulator's pty) it would
    // outlive us and lock every later open out.
    driver_->Control(fd_, TIOCNXCL, nullptr);
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0; // also releases the flock
}

} // namespace zorm
