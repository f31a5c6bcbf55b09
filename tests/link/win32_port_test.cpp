// The Win32 port's direction switch over a driver that fails on purpose:
// which failures of EscapeCommFunction count as a switch done.
#include "link/win32_serial_port.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace zorm {
namespace {

using Call = std::pair<HANDLE, DWORD>;

// What the stand-in driver answers: 0 for success, else the error it fails with.
DWORD driverError = 0;
std::vector<Call> calls;

BOOL WINAPI Escape(HANDLE handle, DWORD function) {
    calls.emplace_back(handle, function);
    if (driverError == 0) {
        return TRUE;
    }
    SetLastError(driverError);
    return FALSE;
}

class Win32PortRts : public ::testing::Test {
protected:
    void SetUp() override {
        driverError = 0;
        calls.clear();
        // Any handle will do: the stand-in never looks at it.
        handle_ = CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(handle_, INVALID_HANDLE_VALUE);
        port_ = MakeWin32SerialPort(handle_, Escape);
    }

    HANDLE handle_ = INVALID_HANDLE_VALUE;
    std::unique_ptr<SerialPort> port_;
};

TEST_F(Win32PortRts, DriverThatSwitchesSucceeds) {
    EXPECT_TRUE(port_->SetRts(true));
    EXPECT_TRUE(port_->SetRts(false));
    EXPECT_EQ(calls, (std::vector<Call>{{handle_, SETRTS}, {handle_, CLRRTS}}));
}

TEST_F(Win32PortRts, LineWithoutModemControlCountsAsSwitched) {
    driverError = ERROR_NOT_SUPPORTED;
    EXPECT_TRUE(port_->SetRts(true));
    EXPECT_TRUE(port_->SetRts(false));
    EXPECT_EQ(calls, (std::vector<Call>{{handle_, SETRTS}, {handle_, CLRRTS}}));
}

TEST_F(Win32PortRts, EveryOtherDriverErrorIsAFailure) {
    for (const DWORD error : {ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED, ERROR_GEN_FAILURE,
                              ERROR_INVALID_PARAMETER, ERROR_NOT_READY, ERROR_INVALID_FUNCTION,
                              ERROR_OPERATION_ABORTED, ERROR_DEVICE_NOT_CONNECTED}) {
        SCOPED_TRACE(error);
        driverError = error;
        EXPECT_FALSE(port_->SetRts(true));
        EXPECT_FALSE(port_->SetRts(false));
    }
    // An unsupported switch is not remembered as a licence for later errors.
    driverError = ERROR_NOT_SUPPORTED;
    EXPECT_TRUE(port_->SetRts(true));
    driverError = ERROR_GEN_FAILURE;
    EXPECT_FALSE(port_->SetRts(false));
}

TEST_F(Win32PortRts, ClosedPortAsksNoDriver) {
    driverError = ERROR_NOT_SUPPORTED;
    EXPECT_TRUE(port_->Close());
    EXPECT_FALSE(port_->SetRts(true));
    EXPECT_FALSE(port_->SetRts(false));
    EXPECT_TRUE(calls.empty());
}

} // namespace
} // namespace zorm
