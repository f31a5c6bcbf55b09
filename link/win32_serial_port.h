// The serial line on Windows, over the Win32 communications API.
//
// Only the device name is built here in the header, so that every platform
// can check it; the port itself lives in win32_serial_port.cpp, which only a
// Windows build compiles.
#pragma once

#include <cstdint>
#include <string>

namespace zorm {

// The CreateFileA name of COM port n: "COM1".."COM9" as they are, and from 10
// on in the device namespace, "\\.\COM10", because only the first nine exist
// as plain DOS names.
inline std::string Win32PortName(std::uint8_t n) {
    std::string name = "COM" + std::to_string(n);
    return n > 9 ? "\\\\.\\" + name : name;
}

} // namespace zorm
