// exchange_bench: what one MeasureChannel exchange costs beyond the time the
// line itself needs, with Drv232 and the POSIX port against zorm5816-sim on a
// real pseudo-terminal.
//
// Two runs. "instant": the simulator answers at once, so the line time is
// the two 20 ms direction guards. "paced": the simulator answers like a
// converter on the half-duplex line, PacedTurnaround after the request's last
// byte and at 9600 baud, so the line time is the first guard, the turnaround
// (measured from the end of the write, which the second guard lies within)
// and the eight reply bytes of 10 bits each. The request itself takes no
// time on a pty; on a real line its 4.17 ms would add to the line time and
// to the total alike.
//
// Then the line turn: the time from the return of the frame's write to RTS
// at the receive level, with the port's driver calls answered as a cdc-acm,
// an FTDI-style usb-serial and a 16550 driver answer them, against the
// simulator answering at once.

#include "bench/quantile.h"
#include "data/context.h"
#include "link/drv232.h"
#include "link/port_names.h"
#include "link/posix_serial_port.h"
#include "sim/converter_sim.h"
#include "sim/pty_process.h"
#include "sim/pty_server.h"
#include "tests/support/fake_terminal_driver.h"
#include "tests/support/scratch_directory.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using Ms = std::chrono::duration<double, std::milli>;

constexpr int Reading = 12345;
constexpr int WarmUp = 5;

// Passes every call on to the real port and remembers the last port call
// that failed, so that a failed exchange can say where it went wrong.
class WatchedPort final : public zorm::SerialPort {
public:
    WatchedPort(std::unique_ptr<zorm::SerialPort> port, std::string& lastFailure)
        : port_(std::move(port)), lastFailure_(lastFailure) {}

    bool SetLineFormat(const zorm::LineFormat& f) override {
        return Note("SetLineFormat", port_->SetLineFormat(f));
    }
    bool SetTimeouts(const zorm::CommTimeouts& t) override {
        return Note("SetTimeouts", port_->SetTimeouts(t));
    }
    bool SetRts(bool asserted) override { return Note("SetRts", port_->SetRts(asserted)); }
    bool Write(std::span<const std::uint8_t> bytes) override {
        return Note("Write", port_->Write(bytes));
    }
    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        const bool ok = Note("Read", port_->Read(buffer, received));
        if (ok && received < buffer.size()) {
            lastFailure_ = "Read: " + std::to_string(received) + " of " +
                           std::to_string(buffer.size()) + " bytes";
        }
        return ok;
    }
    bool DiscardInput() override { return Note("DiscardInput", port_->DiscardInput()); }
    void Sleep(std::chrono::milliseconds duration) override { port_->Sleep(duration); }
    bool Close() override { return port_->Close(); }

private:
    bool Note(const char* call, bool ok) {
        if (!ok) {
            lastFailure_ = std::string(call) + ": " + std::strerror(errno);
        }
        return ok;
    }

    std::unique_ptr<zorm::SerialPort> port_;
    std::string& lastFailure_;
};

struct RunResult {
    double LineMs = 0;
    std::vector<double> TotalMs; // sorted
    int Failures = 0;
};

using zorm::bench::Quantile;

std::optional<RunResult> Run(const std::string& simulator, bool paced, int count,
                             const std::shared_ptr<zorm::TerminalDriver>& driver) {
    const zorm::test::ScratchDirectory scratch;
    const fs::path& dir = scratch.Path();
    std::vector<std::string> args{"--dir", dir.string(), "--port",
                                  "1",     "--raw",      std::to_string(Reading) + ",0,0"};
    if (paced) {
        args.emplace_back("--pace");
    }

    std::optional<RunResult> result;
    {
        zorm::sim::SimulatorProcess sim(simulator, args);
        if (sim.ReadyLine().empty()) {
            std::fprintf(stderr, "exchange_bench: %s did not start\n", simulator.c_str());
        } else {
            zorm::Context context;
            context.DeviceSettings.DeviceAddress = 1;
            context.DeviceSettings.RtsOnTransmit = 1;
            context.DeviceSettings.FilterOn = 1;
            std::string lastFailure;
            zorm::Drv232 link(context, [&](std::uint8_t n) -> std::unique_ptr<zorm::SerialPort> {
                auto port = zorm::PosixSerialPort::Open(zorm::PortDevicePath(n, dir), driver);
                return port ? std::make_unique<WatchedPort>(std::move(port), lastFailure) : nullptr;
            });
            if (!link.OpenPort(1)) {
                std::fprintf(stderr, "exchange_bench: cannot open %s/COM1\n", dir.c_str());
            } else {
                RunResult run;
                const Ms guard{std::chrono::milliseconds(zorm::LineDelayMs)};
                run.LineMs =
                    paced ? (guard + Ms(zorm::sim::PacedTurnaround) + Ms(zorm::sim::LineTime(8)))
                                .count()
                          : (2 * guard).count();
                for (int i = 0; i < WarmUp; ++i) {
                    link.MeasureChannel(1);
                }
                run.TotalMs.reserve(static_cast<std::size_t>(count));
                for (int i = 0; i < count; ++i) {
                    context.LastReading = -1;
                    lastFailure.clear();
                    const auto start = Clock::now();
                    const bool ok = link.MeasureChannel(1);
                    run.TotalMs.push_back(Ms(Clock::now() - start).count());
                    if (!ok || context.LastReading != Reading) {
                        if (++run.Failures <= 5) {
                            std::fprintf(stderr,
                                         "exchange_bench: %s exchange %d failed after %.3f ms "
                                         "(reading %d; %s)\n",
                                         paced ? "paced" : "instant", i, run.TotalMs.back(),
                                         context.LastReading,
                                         lastFailure.empty() ? "no port call failed"
                                                             : lastFailure.c_str());
                        }
                    }
                }
                std::sort(run.TotalMs.begin(), run.TotalMs.end());
                link.ClosePort();
                result = run;
            }
        }
    }
    return result;
}

// Two direction guards of the port and nothing else: how late the system
// wakes a sleeper, which every exchange pays twice. The port is a pty of our
// own that nothing is sent on.
std::optional<RunResult> SleepFloor(int count) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::fprintf(stderr, "exchange_bench: no pty\n");
        return std::nullopt;
    }
    auto port = zorm::PosixSerialPort::Open(ptsname(master));
    std::optional<RunResult> result;
    if (port) {
        RunResult run;
        const std::chrono::milliseconds guard{zorm::LineDelayMs};
        run.LineMs = Ms(2 * guard).count();
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            port->Sleep(guard);
            port->Sleep(guard);
            run.TotalMs.push_back(Ms(Clock::now() - start).count());
        }
        std::sort(run.TotalMs.begin(), run.TotalMs.end());
        result = run;
        port->Close();
    }
    close(master);
    return result;
}

void PrintRow(const char* name, const RunResult& run) {
    const double median = Quantile(run.TotalMs, 0.5);
    std::printf("%-8s %7.3f ms %10.3f ms %10.3f ms %10.3f ms %10.3f ms %11.4f %7d\n", name,
                run.LineMs, median, median - run.LineMs, Quantile(run.TotalMs, 0.99) - run.LineMs,
                run.TotalMs.back() - run.LineMs, median / run.LineMs, run.Failures);
}

int Usage() {
    std::fprintf(stderr, "usage: exchange_bench [--count N] [--sim PATH]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    int count = 300;
    std::string simulator = ZORM_SIM_PROGRAM;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (i + 1 == argc) {
            return Usage();
        }
        const std::string_view value = argv[++i];
        if (arg == "--count") {
            const auto [ptr, ec] =
                std::from_chars(value.data(), value.data() + value.size(), count);
            if (ec != std::errc{} || ptr != value.data() + value.size() || count < 1) {
                return Usage();
            }
        } else if (arg == "--sim") {
            simulator = std::string(value);
        } else {
            return Usage();
        }
    }

    std::printf("%d MeasureChannel exchanges per run (after %d unmeasured), Drv232 + POSIX "
                "port, zorm5816-sim on a pty\n\n",
                count, WarmUp);
    std::printf("%-8s %10s %13s %13s %13s %13s %11s %7s\n", "run", "line time", "total median",
                "overhead med", "overhead p99", "overhead max", "total/line", "failed");
    const auto floor = SleepFloor(count);
    if (!floor) {
        return 1;
    }
    PrintRow("sleeps", *floor);
    bool targetMet = true;
    int failures = 0;
    for (const bool paced : {false, true}) {
        const auto run = Run(simulator, paced, count, std::make_shared<zorm::TerminalDriver>());
        if (!run) {
            return 1;
        }
        PrintRow(paced ? "paced" : "instant", *run);
        targetMet = targetMet && Quantile(run->TotalMs, 0.5) - run->LineMs <= 0.5 &&
                    Quantile(run->TotalMs, 0.99) - run->LineMs <= 2.0;
        failures += run->Failures;
    }
    std::printf("\nsleeps: the port's two 20 ms guards alone, nothing sent; their overshoot\n"
                "is the operating system's share of every exchange.\n");
    std::printf("target (overhead median <= 0.5 ms, p99 <= 2 ms): %s\n",
                targetMet ? "met" : "NOT met");

    std::printf("\nline turn: write returned -> RTS at receive, %d exchanges per driver\n\n",
                count);
    std::printf("%-8s %10s %10s %10s %7s\n", "driver", "median", "p99", "max", "failed");
    for (const auto kind : {zorm::test::DriverKind::CdcAcm, zorm::test::DriverKind::Ftdi,
                            zorm::test::DriverKind::Uart16550}) {
        zorm::test::DriverModel model;
        model.Kind = kind;
        const auto driver = std::make_shared<zorm::test::FakeTerminalDriver>(model);
        const auto run = Run(simulator, false, count, driver);
        if (!run) {
            return 1;
        }
        // RTS is asserted while transmitting, so receive is RTS cleared.
        std::vector<double> turns = driver->TurnsMs(false);
        turns.erase(turns.begin(),
                    turns.begin() + std::min<std::ptrdiff_t>(WarmUp, std::ssize(turns)));
        if (turns.empty()) {
            std::fprintf(stderr, "exchange_bench: no line turn seen with %s\n",
                         zorm::test::DriverName(kind));
            return 1;
        }
        std::sort(turns.begin(), turns.end());
        std::printf("%-8s %7.3f ms %7.3f ms %7.3f ms %7d\n", zorm::test::DriverName(kind),
                    Quantile(turns, 0.5), Quantile(turns, 0.99), turns.back(), run->Failures);
        failures += run->Failures;
    }
    if (failures > 0) {
        std::printf("%d exchanges failed or read a wrong value (details on stderr)\n", failures);
        return 1;
    }
    return 0;
}
