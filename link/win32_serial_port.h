// The serial line on Windows, over the Win32 communications API.
//
// The device name is built here in the header, so that every platform can
// check it; the port itself lives in win32_serial_port.cpp, which only a
// Windows build compiles.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
#include "link/serial_port.h"

#include <memory>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace zorm {

// The CreateFileA name of COM port n: "COM1".."COM9" as they are, and from 10
// on in the device namespace, "\\.\COM10", because only the first nine exist
// as plain DOS names.
inline std::string Win32PortName(std::uint8_t n) {
    std::string name = "COM" + std::to_string(n);
    return n > 9 ? "\\\\.\\" + name : name;
}

#ifdef _WIN32
// The call that switches RTS: EscapeCommFunction, or a stand-in with its
// signature that a test uses to make the driver fail.
using EscapeFunction = BOOL(WINAPI*)(HANDLE, DWORD);

// The port over an open communications handle, which it owns from now on.
std::unique_ptr<SerialPort> MakeWin32SerialPort(HANDLE handle,
                                                EscapeFunction escape = EscapeCommFunction);
#endif

} // namespace zorm
