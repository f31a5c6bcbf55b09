// Writing a whole buffer to a file, as the system's write calls take it in
// parts.
#pragma once

#include <cstdint>
#include <span>

namespace zorm {

// Writes all of `bytes`, going on after a partial write (and, on POSIX, after
// an interrupted one). False at the first failure, with the reason in errno
// (ENOSPC for a write that took nothing without one) or, on Windows, in
// GetLastError(); part of the bytes may be written then.
#ifdef _WIN32
bool WriteAll(void* file, std::span<const std::uint8_t> bytes);
#else
bool WriteAll(int fd, std::span<const std::uint8_t> bytes);
#endif

} // namespace zorm
