#include "sim/sim_port.h"

#include <algorithm>
#include <deque>
#include <map>
#include <utility>

namespace zorm::sim {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

struct SimLine::State {
    explicit State(ConverterConfig config) : converter(std::move(config)) {}

    std::uint32_t BaudRate() const { return format ? format->BaudRate : 9600; }
    void Record(LineEvent event) { events.push_back(std::move(event)); }

    ConverterSim converter;
    PortFaults faults;
    VirtualTime now{0};
    VirtualTime turnaround{milliseconds{25}};
    // When the converter's transmitter has sent the last byte queued so far.
    VirtualTime transmitterFreeAt{0};
    // Bytes on their way to the PC with their arrival times, oldest first.
    std::deque<std::pair<VirtualTime, std::uint8_t>> incoming;
    std::vector<LineEvent> events;
    bool open = false;
    std::optional<bool> rts;
    std::optional<LineFormat> format;
    std::optional<CommTimeouts> timeouts;
};

namespace {

class SimPort final : public SerialPort {
public:
    explicit SimPort(std::shared_ptr<SimLine::State> line) : line_(std::move(line)) {}
    ~SimPort() override {
        if (open_) {
            Close();
        }
    }
    SimPort(const SimPort&) = delete;
    SimPort& operator=(const SimPort&) = delete;

    bool SetLineFormat(const LineFormat& format) override {
        const bool ok = open_ && !line_->faults.SetLineFormatFails;
        if (ok) {
            line_->format = format;
        }
        Record(EventKind::SetLineFormat, ok);
        return ok;
    }

    bool SetTimeouts(const CommTimeouts& timeouts) override {
        const bool ok = open_ && !line_->faults.SetTimeoutsFails;
        if (ok) {
            line_->timeouts = timeouts;
        }
        Record(EventKind::SetTimeouts, ok);
        return ok;
    }

    bool SetRts(bool asserted) override {
        const bool ok = open_ && !line_->faults.SetRtsFails;
        if (ok) {
            line_->rts = asserted;
        }
        LineEvent event{EventKind::SetRts, line_->now};
        event.Ok = ok;
        event.Rts = asserted;
        line_->Record(std::move(event));
        return ok;
    }

    bool Write(std::span<const std::uint8_t> bytes) override {
        State& line = *line_;
        LineEvent event{EventKind::Write, line.now};
        event.Bytes.assign(bytes.begin(), bytes.end());
        event.Ok = open_ && !line.faults.WriteFails;
        if (event.Ok) {
            line.now += LineTime(bytes.size(), line.BaudRate());
            event.Duration = line.now - event.At;
            for (Reply& reply :
                 line.converter.Receive(bytes, duration_cast<milliseconds>(line.now))) {
                Transmit(reply);
            }
        }
        const bool ok = event.Ok;
        line.Record(std::move(event));
        return ok;
    }

    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        State& line = *line_;
        received = 0;
        LineEvent event{EventKind::Read, line.now};
        event.Requested = buffer.size();
        event.Ok = open_ && !line.faults.ReadFails;
        if (event.Ok) {
            const CommTimeouts timeouts = line.timeouts.value_or(CommTimeouts{});
            const VirtualTime start = line.now;
            const VirtualTime deadline =
                start + milliseconds{timeouts.ReadTotalConstant +
                                     std::uint64_t{timeouts.ReadTotalMultiplier} * buffer.size()};
            const milliseconds interval{timeouts.ReadInterval};
            VirtualTime last = start;
            while (received < buffer.size()) {
                // The interval time-out counts only from the first byte, and
                // an interval of 0 means none.
                VirtualTime limit = deadline;
                if (received > 0 && interval.count() > 0) {
                    limit = std::min(limit, last + interval);
                }
                if (line.incoming.empty() || line.incoming.front().first > limit) {
                    line.now = std::max(line.now, limit);
                    break;
                }
                last = std::max(line.incoming.front().first, start);
                buffer[received++] = line.incoming.front().second;
                line.incoming.pop_front();
                line.now = last;
            }
            event.Bytes.assign(buffer.begin(),
                               buffer.begin() + static_cast<std::ptrdiff_t>(received));
            event.Duration = line.now - start;
        }
        const bool ok = event.Ok;
        line.Record(std::move(event));
        return ok;
    }

    bool DiscardInput() override {
        State& line = *line_;
        LineEvent event{EventKind::Discard, line.now};
        event.Ok = open_ && !line.faults.DiscardFails;
        if (event.Ok) {
            while (!line.incoming.empty() && line.incoming.front().first <= line.now) {
                event.Bytes.push_back(line.incoming.front().second);
                line.incoming.pop_front();
            }
        }
        const bool ok = event.Ok;
        line.Record(std::move(event));
        return ok;
    }

    void Sleep(milliseconds duration) override {
        LineEvent event{EventKind::Sleep, line_->now, duration};
        line_->now += duration;
        line_->Record(std::move(event));
    }

    bool Close() override {
        const bool ok = open_;
        if (open_) {
            open_ = false;
            line_->open = false;
        }
        Record(EventKind::Close, ok);
        return ok;
    }

private:
    using State = SimLine::State;

    void Record(EventKind kind, bool ok) {
        LineEvent event{kind, line_->now};
        event.Ok = ok;
        line_->Record(std::move(event));
    }

    // Queues a reply's bytes at the times they reach the PC.
    void Transmit(const Reply& reply) {
        State& line = *line_;
        const VirtualTime start =
            std::max(line.now + line.turnaround + reply.Delay, line.transmitterFreeAt);
        for (std::size_t i = 0; i < reply.Bytes.size(); ++i) {
            line.incoming.emplace_back(start + LineTime(i + 1, line.BaudRate()), reply.Bytes[i]);
        }
        line.transmitterFreeAt = start + LineTime(reply.Bytes.size(), line.BaudRate());
    }

    std::shared_ptr<State> line_;
    bool open_ = true;
};

} // namespace

SimLine::SimLine(ConverterConfig config) : state_(std::make_shared<State>(std::move(config))) {}

std::unique_ptr<SerialPort> SimLine::Open() {
    LineEvent event{EventKind::Open, state_->now};
    event.Ok = !state_->open;
    state_->Record(std::move(event));
    if (state_->open) {
        return nullptr;
    }
    state_->open = true;
    return std::make_unique<SimPort>(state_);
}

bool SimLine::IsOpen() const {
    return state_->open;
}
ConverterSim& SimLine::Converter() {
    return state_->converter;
}
PortFaults& SimLine::Faults() {
    return state_->faults;
}
VirtualTime SimLine::Now() const {
    return state_->now;
}
void SimLine::Advance(VirtualTime duration) {
    state_->now += duration;
}
VirtualTime SimLine::Turnaround() const {
    return state_->turnaround;
}
void SimLine::SetTurnaround(VirtualTime turnaround) {
    state_->turnaround = turnaround;
}
const std::vector<LineEvent>& SimLine::Events() const {
    return state_->events;
}
void SimLine::ClearEvents() {
    state_->events.clear();
}
std::optional<bool> SimLine::Rts() const {
    return state_->rts;
}
std::optional<LineFormat> SimLine::Format() const {
    return state_->format;
}
std::optional<CommTimeouts> SimLine::Timeouts() const {
    return state_->timeouts;
}

std::size_t SimLine::Waiting() const {
    return static_cast<std::size_t>(
        std::count_if(state_->incoming.begin(), state_->incoming.end(),
                      [this](const auto& byte) { return byte.first <= state_->now; }));
}

struct SimPorts::State {
    std::map<std::uint8_t, SimLine> lines;
    std::vector<std::uint8_t> tried;
};

SimPorts::SimPorts() : state_(std::make_shared<State>()) {}

SimLine SimPorts::Add(std::uint8_t n, ConverterConfig config) {
    SimLine line(std::move(config));
    state_->lines.insert_or_assign(n, line);
    return line;
}

void SimPorts::Remove(std::uint8_t n) {
    state_->lines.erase(n);
}

PortOpener SimPorts::Opener() const {
    return [state = state_](std::uint8_t n) -> std::unique_ptr<SerialPort> {
        state->tried.push_back(n);
        const auto found = state->lines.find(n);
        return found == state->lines.end() ? nullptr : found->second.Open();
    };
}

std::vector<std::uint8_t> SimPorts::Tried() const {
    return state_->tried;
}
void SimPorts::ClearTried() {
    state_->tried.clear();
}

} // namespace zorm::sim
