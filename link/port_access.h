// Ports that could not be opened because this user may not use the device.
//
// The port opener of the program notes each such port here; the main window
// clears the record when a search starts and, when the search found nothing,
// explains what it holds. An open that failed for any other reason (no such
// device, a device in use) is not noted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zorm {

struct DeniedPort {
    std::uint8_t Number = 0;
    // The device node that refused us (a COMn link is followed to it).
    std::string Device;
    // The group whose members may read and write the device, or empty when
    // membership of a group would not help (no group, the group root, a
    // device without group access).
    std::string Group;
};

class PortAccessLog {
public:
    void Clear() { denied_.clear(); }
    // Notes a port once per search, however often it was tried.
    void Add(const DeniedPort& port) {
        for (const DeniedPort& known : denied_) {
            if (known.Number == port.Number) {
                return;
            }
        }
        denied_.push_back(port);
    }
    const std::vector<DeniedPort>& Denied() const { return denied_; }

private:
    std::vector<DeniedPort> denied_;
};

} // namespace zorm
