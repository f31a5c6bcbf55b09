// Kernel serial drivers stood in for on a pseudo-terminal. The bytes go
// through to the pty as they are; the port's questions about its output
// queue (TIOCOUTQ), its transmitter (TIOCSERGETLSR) and RTS (TIOCMBIS,
// TIOCMBIC) are answered the way one kind of driver answers them, for a frame
// on a modelled wire. Every write and RTS change is stamped, so that a test or
// the benchmark can see when the line turned after a frame.
#pragma once

#include "link/posix_serial_port.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <vector>

#include <sys/ioctl.h>
#include <unistd.h>

namespace zorm::test {

enum class DriverKind {
    // cdc-acm: TIOCOUTQ counts its busy USB write buffers at their full size
    // (1280 "bytes" each at full speed, 10240 at high speed) while a transfer
    // is in flight, whatever the frame's length; TIOCSERGETLSR is unknown
    // to it.
    CdcAcm,
    // FTDI-style usb-serial: TIOCOUTQ counts the bytes not yet taken by the
    // chip; the chip reports its transmitter empty in its status packets, a
    // latency after the last stop bit.
    Ftdi,
    // 8250/16550 UART: the frame moves into the 16-byte FIFO at once, so
    // TIOCOUTQ counts only what does not fit; TEMT is set with the last stop
    // bit.
    Uart16550,
};

struct DriverModel {
    DriverKind Kind = DriverKind::Uart16550;
    // One character on the wire: 10 bits at 9600 baud.
    std::chrono::nanoseconds Character{1'041'667};
    // USB adapters: from the write until the adapter has taken the transfer.
    std::chrono::nanoseconds UsbTransfer = std::chrono::milliseconds{1};
    // FTDI: how late the status packets tell of an empty transmitter.
    std::chrono::nanoseconds StatusLatency = std::chrono::milliseconds{1};
    // cdc-acm: the size of one write buffer.
    int BusyBytes = 1280;
    // Nonzero: TIOCMBIS and TIOCMBIC fail with this errno.
    int RtsErrno = 0;
};

inline const char* DriverName(DriverKind kind) {
    switch (kind) {
    case DriverKind::CdcAcm:
        return "cdc-acm";
    case DriverKind::Ftdi:
        return "ftdi";
    case DriverKind::Uart16550:
        return "16550";
    }
    return "?";
}

class FakeTerminalDriver final : public TerminalDriver {
public:
    using Clock = std::chrono::steady_clock;
    struct RtsChange {
        Clock::time_point At;
        bool Asserted;
    };

    explicit FakeTerminalDriver(DriverModel model) : model_(model) {}

    ssize_t Write(int fd, const void* bytes, std::size_t count) override {
        const ssize_t n = ::write(fd, bytes, count);
        if (n > 0) {
            const Clock::time_point now = Clock::now();
            const auto toAdapter = model_.Kind == DriverKind::Uart16550
                                       ? std::chrono::nanoseconds{0}
                                       : model_.UsbTransfer;
            lastWrite_ = now;
            lastWriteBytes_ = static_cast<int>(n);
            wireEnd_ = std::max(wireEnd_, now + toAdapter) + n * model_.Character;
            writeReturns_.push_back(now);
        }
        return n;
    }

    int Control(int fd, unsigned long request, int* argument) override {
        const Clock::time_point now = Clock::now();
        switch (request) {
        case TIOCOUTQ:
            *argument = OutputCount(now);
            return 0;
        case TIOCSERGETLSR:
            if (model_.Kind == DriverKind::CdcAcm) {
                return Fail(ENOTTY);
            }
            *argument =
                now >= wireEnd_ + (model_.Kind == DriverKind::Ftdi ? model_.StatusLatency
                                                                   : std::chrono::nanoseconds{0})
                    ? TIOCSER_TEMT
                    : 0;
            return 0;
        case TIOCMBIS:
        case TIOCMBIC:
            if (model_.RtsErrno != 0) {
                return Fail(model_.RtsErrno);
            }
            rtsChanges_.push_back({now, request == TIOCMBIS});
            return 0;
        default:
            return ::ioctl(fd, request, argument);
        }
    }

    // For every write, the time from its return to the first RTS change to
    // `level` after it, in milliseconds; writes without such a change are
    // left out.
    std::vector<double> TurnsMs(bool level) const {
        std::vector<double> turns;
        for (const Clock::time_point written : writeReturns_) {
            const auto change =
                std::find_if(rtsChanges_.begin(), rtsChanges_.end(), [&](const RtsChange& c) {
                    return c.At >= written && c.Asserted == level;
                });
            if (change != rtsChanges_.end()) {
                turns.push_back(
                    std::chrono::duration<double, std::milli>(change->At - written).count());
            }
        }
        return turns;
    }
    const std::vector<Clock::time_point>& WriteReturns() const { return writeReturns_; }
    const std::vector<RtsChange>& RtsChanges() const { return rtsChanges_; }

private:
    static int Fail(int error) {
        errno = error;
        return -1;
    }

    int OutputCount(Clock::time_point now) const {
        switch (model_.Kind) {
        case DriverKind::CdcAcm:
            return now < lastWrite_ + model_.UsbTransfer ? model_.BusyBytes : 0;
        case DriverKind::Ftdi:
            return now < lastWrite_ + model_.UsbTransfer ? lastWriteBytes_ : 0;
        case DriverKind::Uart16550: {
            constexpr int Fifo = 16;
            const auto left = std::max(wireEnd_ - now, Clock::duration{0});
            const auto onWire =
                (left + model_.Character - std::chrono::nanoseconds{1}) / model_.Character;
            return std::max(0, static_cast<int>(onWire) - Fifo);
        }
        }
        return 0;
    }

    DriverModel model_;
    Clock::time_point lastWrite_{};
    int lastWriteBytes_ = 0;
    // When the last byte written so far has left the wire.
    Clock::time_point wireEnd_{};
    std::vector<Clock::time_point> writeReturns_;
    std::vector<RtsChange> rtsChanges_;
};

} // namespace zorm::test
