// A fixture for tests that change the floating-point environment (flags,
// traps, rounding, x87 precision, MXCSR) before they call the temperature
// arithmetic: whatever a test leaves behind is undone after it.
#pragma once

#include <gtest/gtest.h>

#include "data/fp_environment.h"

#include <cfenv>

namespace zorm::test {

class CallerEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        std::fegetenv(&saved_);
#ifdef __x86_64__
        savedSse_ = SseControl(); // MinGW's fesetenv does not restore MXCSR
#endif
    }
    void TearDown() override {
        std::fesetenv(&saved_);
#ifdef __x86_64__
        SetSseControl(savedSse_);
#endif
    }

private:
    std::fenv_t saved_{};
    unsigned int savedSse_ = 0;
};

} // namespace zorm::test
