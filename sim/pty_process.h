// zorm5816-sim as a child process, for the tests and the benchmark that drive
// the real POSIX port against it.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

namespace zorm::sim {

class SimulatorProcess {
public:
    // Starts `program` with `args` and waits (up to five seconds) for the
    // line it prints when its link is ready. Its stderr goes to /dev/null.
    // Throws std::runtime_error when the program cannot be started.
    SimulatorProcess(const std::string& program, const std::vector<std::string>& args);
    // Stops a simulator that still runs.
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // The ready line without its newline; empty when the simulator ended
    // (or said nothing) first.
    const std::string& ReadyLine() const { return readyLine_; }
    // Sends SIGTERM and returns the wait status.
    int Stop();
    // Waits for a simulator that ends by itself (a refused start) and
    // returns the wait status.
    int Wait();

private:
    pid_t pid_ = -1;
    int status_ = -1;
    std::string readyLine_;
};

} // namespace zorm::sim
