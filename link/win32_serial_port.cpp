#include "link/win32_serial_port.h"

namespace zorm {

namespace {

class Win32SerialPort final : public SerialPort {
public:
    Win32SerialPort(HANDLE handle, EscapeFunction escape) : handle_(handle), escape_(escape) {}
    ~Win32SerialPort() override { Close(); }
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    bool SetLineFormat(const LineFormat& format) override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        // Every other field of the record keeps what the driver reported.
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        if (!GetCommState(handle_, &dcb)) {
            return false;
        }
        dcb.BaudRate = format.BaudRate;
        dcb.ByteSize = 8;
        dcb.Parity = format.Parity == Parity::Even ? EVENPARITY : NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        return SetCommState(handle_, &dcb) != 0;
    }

    bool SetTimeouts(const CommTimeouts& timeouts) override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        COMMTIMEOUTS t{};
        if (!GetCommTimeouts(handle_, &t)) {
            return false;
        }
        t.ReadIntervalTimeout = timeouts.ReadInterval;
        t.ReadTotalTimeoutMultiplier = timeouts.ReadTotalMultiplier;
        t.ReadTotalTimeoutConstant = timeouts.ReadTotalConstant;
        t.WriteTotalTimeoutMultiplier = timeouts.WriteTotalMultiplier;
        t.WriteTotalTimeoutConstant = timeouts.WriteTotalConstant;
        return SetCommTimeouts(handle_, &t) != 0;
    }

    bool SetRts(bool asserted) override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        if (escape_(handle_, asserted ? SETRTS : CLRRTS) != 0) {
            return true;
        }
        // A port without modem-control lines (Wine on a pseudo-terminal, the
        // virtual COM ports of some USB and Bluetooth drivers) has no
        // direction to switch, so the switch is done.
        return GetLastError() == ERROR_NOT_SUPPORTED;
    }

    bool Write(std::span<const std::uint8_t> bytes) override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        DWORD written = 0;
        return WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                         nullptr) != 0 &&
               written == bytes.size();
    }

    bool Read(std::span<std::uint8_t> buffer, std::size_t& received) override {
        received = 0;
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        // A time-out is no error: ReadFile succeeds with fewer bytes.
        DWORD got = 0;
        if (!ReadFile(handle_, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
            return false;
        }
        received = got;
        return true;
    }

    bool DiscardInput() override {
        return handle_ != INVALID_HANDLE_VALUE && PurgeComm(handle_, PURGE_RXCLEAR) != 0;
    }

    void Sleep(std::chrono::milliseconds duration) override {
        ::Sleep(static_cast<DWORD>(duration.count()));
    }

    bool Close() override {
        if (handle_ == INVALID_HANDLE_VALUE) {
            return false;
        }
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
    EscapeFunction escape_;
};

} // namespace

std::unique_ptr<SerialPort> MakeWin32SerialPort(HANDLE handle, EscapeFunction escape) {
    return std::make_unique<Win32SerialPort>(handle, escape);
}

PortOpener SystemPortOpener() {
    return [](std::uint8_t n) -> std::unique_ptr<SerialPort> {
        // No sharing: a port that another program or this one holds open
        // fails here, which is what makes access exclusive.
        const HANDLE handle = CreateFileA(Win32PortName(n).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) {
            return nullptr;
        }
        return MakeWin32SerialPort(handle);
    };
}

} // namespace zorm
