#include "sim/sim_port.h"

#include <algorithm>
#include <deque>
#include <map>
#include <utility>

namespace zorm::sim {

using std::chrono::duration_cast;
using std::chrono::milliseconds;

struct SimLine::State {
    // A byte of the converter on the line: it starts (start bit) and arrives
    // (stop bit through) at these times.
    struct Incoming {
        VirtualTime Start;
        VirtualTime Arrival;
        std::uint8_t Byte;
    };

    explicit State(ConverterConfig config) : converter(std::move(config)) {}

    std::uint32_t BaudRate() const { return format ? format->BaudRate : 9600; }
    void Record(LineEvent event) { events.push_back(std::move(event)); }

    // Whether a byte was on the line, before `until`, while the PC drove it.
    bool Collides(const Incoming& byte, VirtualTime until) const {
        return drivingSince && byte.Start < until && byte.Arrival > *drivingSince;
    }
    // Loses the bytes that collided with the PC's transmitter before `until`.
    void DropCollisions(VirtualTime until) {
        lost +=
            std::erase_if(incoming, [&](const Incoming& byte) { return Collides(byte, until); });
    }

    ConverterSim converter;
    PortFaults faults;
    VirtualTime now{0};
    VirtualTime turnaround{milliseconds{25}};
    // When the PC's last frame has left the line.
    VirtualTime frameLeftAt{0};
    // When the converter's transmitter has sent the last byte queued so far.
    VirtualTime transmitterFreeAt{0};
    // Bytes on their way to the PC, oldest first.
    std::deque<Incoming> incoming;
    std::size_t lost = 0;
    std::vector<LineEvent> events;
    bool open = false;
    std::optional<bool> rts;
    // Since when RTS has had its level.
    VirtualTime rtsSince{0};
    // The PC's transceiver drives the line from drivingSince until RTS
    // leaves transmitLevel, the level it had when the frame was written.
    std::optional<VirtualTime> drivingSince;
    bool transmitLevel = true;
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
        State& line = *line_;
        const bool ok = open_ && !line.faults.SetRtsFails;
        if (ok) {
            // The port lets its frame leave before it turns the line.
            line.now = std::max(line.now, line.frameLeftAt);
            if (line.drivingSince && asserted != line.transmitLevel) {
                line.DropCollisions(line.now);
                line.drivingSince.reset();
            }
            if (line.rts != asserted) {
                line.rtsSince = line.now;
            }
            line.rts = asserted;
        }
        LineEvent event{EventKind::SetRts, line.now};
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
            // The driver takes the frame at once; it goes out after whatever
            // the PC sent before, and the converter has it with its last byte.
            line.frameLeftAt =
                std::max(line.now, line.frameLeftAt) + LineTime(bytes.size(), line.BaudRate());
            if (line.rts && !line.drivingSince) {
                line.transmitLevel = *line.rts;
                line.drivingSince = line.rtsSince;
            }
            for (Reply& reply :
                 line.converter.Receive(bytes, duration_cast<milliseconds>(line.frameLeftAt))) {
                Transmit(reply, line.frameLeftAt);
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
            // The PC still drives the line for the whole read.
            line.DropCollisions(VirtualTime::max());
            const CommTimeouts timeouts = line.timeouts.value_or(CommTimeouts{});
            const VirtualTime start = line.now;
            // Zero total values mean no total limit.
            const auto total = TotalTimeout(timeouts.ReadTotalConstant,
                                            timeouts.ReadTotalMultiplier, buffer.size());
            const VirtualTime deadline =
                total ? SaturatingSum(start, duration_cast<VirtualTime>(*total))
                      : VirtualTime::max();
            const milliseconds interval{timeouts.ReadInterval};
            VirtualTime last = start;
            while (received < buffer.size()) {
                // The interval time-out counts only from the first byte, and
                // an interval of 0 means none.
                VirtualTime limit = deadline;
                if (received > 0 && interval.count() > 0) {
                    limit = std::min(limit, last + interval);
                }
                if (line.incoming.empty() || line.incoming.front().Arrival > limit) {
                    // Without a limit a real port would wait for ever here;
                    // nothing else can send on this line, so the read ends
                    // and the clock stays where it is.
                    if (limit != VirtualTime::max()) {
                        line.now = std::max(line.now, limit);
                    }
                    break;
                }
                last = std::max(line.incoming.front().Arrival, start);
                buffer[received++] = line.incoming.front().Byte;
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
            line.DropCollisions(line.now);
            while (!line.incoming.empty() && line.incoming.front().Arrival <= line.now) {
                event.Bytes.push_back(line.incoming.front().Byte);
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

    // Queues a reply's bytes at the times they are on the line, the
    // turnaround after the request's last byte.
    void Transmit(const Reply& reply, VirtualTime requestEnd) {
        State& line = *line_;
        const std::uint32_t baud = line.BaudRate();
        const VirtualTime start =
            std::max(requestEnd + line.turnaround + reply.Delay, line.transmitterFreeAt);
        for (std::size_t i = 0; i < reply.Bytes.size(); ++i) {
            line.incoming.push_back(
                {start + LineTime(i, baud), start + LineTime(i + 1, baud), reply.Bytes[i]});
        }
        line.transmitterFreeAt = start + LineTime(reply.Bytes.size(), baud);
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
    const State& line = *state_;
    return static_cast<std::size_t>(
        std::count_if(line.incoming.begin(), line.incoming.end(), [&](const auto& byte) {
            return byte.Arrival <= line.now && !line.Collides(byte, line.now);
        }));
}
std::size_t SimLine::Lost() const {
    return state_->lost;
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
