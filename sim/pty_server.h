// Serves one ConverterSim or several on a pseudo-terminal, so that a program
// opens the simulated converters like a serial port (zorm5816-sim). Several
// converters share the line as on an RS-485 bus: each sees every frame and
// answers only its own address.
//
// The server keeps a descriptor of the terminal side open itself. The kernel
// would otherwise hang the pty up each time the client closes its port, and
// the client could not open it again.
#pragma once

#include "sim/converter_sim.h"

#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace zorm::sim {

// Paced replies begin this long after the last byte of the request: the PC
// waits its 20 ms guard after the write before it turns the line around, and
// a converter on a half-duplex line answers only after that.
inline constexpr std::chrono::microseconds PacedTurnaround{21'000};

class PtyServer {
public:
    // With `paced`, a reply starts PacedTurnaround after the request's last
    // byte and each byte becomes readable when it would have been received
    // completely at 9600 baud (10 bits per byte); otherwise a reply is written
    // at once (a late reply after its delay in either case).
    PtyServer(std::span<ConverterSim> engines, bool paced);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Opens the pty pair and sets the line raw. Throws std::system_error.
    void Open();
    // The terminal device the clients open (e.g. /dev/pts/3).
    const std::string& TerminalPath() const { return terminalPath_; }

    // Links `link` to the terminal. An existing entry is replaced only when
    // it is a dangling link (left by a server that was killed); anything else
    // is an error (std::runtime_error with the reason).
    void Link(const std::filesystem::path& link);

    // Runs `hook` each time bytes of the client have come in, before the
    // engine sees them, so that it can change the engine's settings for the
    // reply (zorm5816-sim --raw-file).
    void BeforeReceive(std::function<void()> hook) { beforeReceive_ = std::move(hook); }

    // Answers requests until `stop` becomes nonzero. The caller blocks the
    // signals whose handlers set `stop` and passes the mask with them
    // unblocked: they are let in only while the server waits, so a stop
    // request never slips in between the check and the wait. Throws
    // std::system_error when the pty fails.
    void Serve(const volatile std::sig_atomic_t& stop, const sigset_t& waitMask);

private:
    using Clock = std::chrono::steady_clock;

    void ReceiveAvailable();
    void Schedule(const Reply& reply, Clock::time_point frameEnd);
    void SendDue();

    std::span<ConverterSim> engines_;
    bool paced_;
    std::function<void()> beforeReceive_;
    int master_ = -1;
    int terminal_ = -1; // held open, see above
    std::string terminalPath_;
    std::filesystem::path link_;
    Clock::time_point start_ = Clock::now();
    // Bytes to send, by the time they are due.
    std::multimap<Clock::time_point, std::vector<std::uint8_t>> outgoing_;
};

} // namespace zorm::sim
