#include "sim/pty_server.h"

#include <array>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <stdexcept>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace zorm::sim {

namespace {

[[noreturn]] void ThrowErrno(const char* what) {
    throw std::system_error(errno, std::generic_category(), what);
}

// How close to a paced byte's time the server stops sleeping.
constexpr long long SpinBeforeDueNs = 1'500'000;

} // namespace

PtyServer::PtyServer(std::span<ConverterSim> engines, bool paced)
    : engines_(engines), paced_(paced) {}

PtyServer::~PtyServer() {
    // Remove the link only while it still leads to our terminal: another
    // server may have taken the name over in the meantime.
    if (!link_.empty()) {
        std::error_code ec;
        if (std::filesystem::read_symlink(link_, ec) == terminalPath_ && !ec) {
            std::filesystem::remove(link_, ec);
        }
    }
    if (terminal_ >= 0) {
        close(terminal_);
    }
    if (master_ >= 0) {
        close(master_);
    }
}

void PtyServer::Open() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0) {
        ThrowErrno("posix_openpt");
    }
    if (grantpt(master_) != 0 || unlockpt(master_) != 0) {
        ThrowErrno("grantpt/unlockpt");
    }
    if (fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
        ThrowErrno("fcntl");
    }
    std::array<char, PATH_MAX> name{};
    if (ptsname_r(master_, name.data(), name.size()) != 0) {
        ThrowErrno("ptsname_r");
    }
    terminalPath_ = name.data();
    terminal_ = open(terminalPath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (terminal_ < 0) {
        ThrowErrno("open pty");
    }
    // Raw like a serial line at 9600 baud. A client configures the line
    // again anyway; this only keeps a careless one from seeing translations.
    termios tio{};
    if (tcgetattr(terminal_, &tio) != 0) {
        ThrowErrno("tcgetattr");
    }
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    if (tcsetattr(terminal_, TCSANOW, &tio) != 0) {
        ThrowErrno("tcsetattr");
    }
}

void PtyServer::Link(const std::filesystem::path& link) {
    namespace fs = std::filesystem;
    const fs::file_status entry = fs::symlink_status(link);
    if (fs::exists(entry)) {
        std::error_code ec;
        const bool dangling = fs::is_symlink(entry) && !fs::exists(fs::status(link, ec));
        if (!dangling) {
            throw std::runtime_error(link.string() + " already exists");
        }
        fs::remove(link);
    }
    fs::create_symlink(terminalPath_, link);
    link_ = link;
}

void PtyServer::Serve(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask) {
    while (stop == 0) {
        SendDue();
        timespec timeout{};
        const timespec* limit = nullptr;
        if (!outgoing_.empty()) {
            const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(
                outgoing_.begin()->first - Clock::now());
            const long long ns = left.count() > 0 ? left.count() : 0;
            // A paced reply goes out byte by byte, 1.04 ms apart, and a
            // sleeping thread here wakes up to a few ms late now and then;
            // the last stretch before a due byte is waited out awake.
            if (paced_ && ns < SpinBeforeDueNs) {
                while (Clock::now() < outgoing_.begin()->first) {
                }
                continue;
            }
            timeout = timespec{static_cast<time_t>(ns / 1'000'000'000),
                               static_cast<long>(ns % 1'000'000'000)};
            limit = &timeout;
        }
        pollfd p{master_, POLLIN, 0};
        const int r = ppoll(&p, 1, limit, &waitMask);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            ThrowErrno("ppoll");
        }
        if (r == 0) {
            continue;
        }
        if ((p.revents & POLLIN) != 0) {
            ReceiveAvailable();
        } else {
            // We hold the terminal side open, so this does not happen when a
            // client closes; something took the pty away.
            throw std::system_error(EIO, std::generic_category(), "pseudo-terminal hung up");
        }
    }
}

void PtyServer::ReceiveAvailable() {
    if (beforeReceive_) {
        beforeReceive_();
    }
    std::array<std::uint8_t, 256> chunk{};
    for (;;) {
        const ssize_t n = read(master_, chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return;
        }
        if (n <= 0) {
            ThrowErrno("read pty");
        }
        const Clock::time_point arrived = Clock::now();
        const auto sinceStart =
            std::chrono::duration_cast<std::chrono::milliseconds>(arrived - start_);
        const auto bytes = std::span(chunk.data(), static_cast<std::size_t>(n));
        for (ConverterSim& engine : engines_) {
            for (const Reply& reply : engine.Receive(bytes, sinceStart)) {
                Schedule(reply, arrived);
            }
        }
    }
}

void PtyServer::Schedule(const Reply& reply, Clock::time_point frameEnd) {
    const Clock::time_point start = frameEnd + reply.Delay;
    if (!paced_) {
        outgoing_.emplace(start, reply.Bytes);
        return;
    }
    // A byte can be read once its stop bit is through: byte k at the end of
    // the (k+1)-th character time after the reply's start bit.
    for (std::size_t k = 0; k < reply.Bytes.size(); ++k) {
        outgoing_.emplace(start + PacedTurnaround + LineTime(k + 1),
                          std::vector<std::uint8_t>{reply.Bytes[k]});
    }
}

void PtyServer::SendDue() {
    const Clock::time_point now = Clock::now();
    while (!outgoing_.empty() && outgoing_.begin()->first <= now) {
        const std::vector<std::uint8_t>& bytes = outgoing_.begin()->second;
        ssize_t n = -1;
        do {
            n = write(master_, bytes.data(), bytes.size());
        } while (n < 0 && errno == EINTR);
        // A client that does not read lets the terminal's buffer fill up;
        // like a converter talking to nobody, the bytes are lost.
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            ThrowErrno("write pty");
        }
        outgoing_.erase(outgoing_.begin());
    }
}

} // namespace zorm::sim
