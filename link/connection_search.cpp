#include "link/connection_search.h"

namespace zorm {

std::uint8_t SearchStart(std::uint8_t portNumber) {
    return portNumber == 0 || portNumber > PortsSearched ? PortsSearched : portNumber;
}

std::optional<FoundConverter> SearchConverter(Drv232& link, std::uint8_t portNumber,
                                              const std::function<void()>& answeredWrongly) {
    int port = SearchStart(portNumber);
    for (int attempt = 0; attempt < PortsSearched; ++attempt) {
        if (link.OpenPort(static_cast<std::uint8_t>(port))) {
            std::string type = link.ReadDeviceType().substr(0, 9);
            if (type != DeviceTypeError) {
                return FoundConverter{static_cast<std::uint8_t>(port), std::move(type)};
            }
            link.ClosePort();
            if (answeredWrongly) {
                answeredWrongly();
            }
        }
        --port;
        if (port == 0) {
            port = PortsSearched;
        }
    }
    return std::nullopt;
}

} // namespace zorm
