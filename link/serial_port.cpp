#include "link/serial_port.h"

namespace zorm {

LineFormat LineFormatFor(std::uint8_t baudSelect) {
    if (baudSelect == 1) {
        return LineFormat{9600, Parity::None};
    }
    return LineFormat{115200, Parity::Even};
}

} // namespace zorm
