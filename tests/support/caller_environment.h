// A fixture for tests that change the floating-point environment (flags,
// traps, rounding, x87 precision) before they call the temperature
// arithmetic: whatever a test leaves behind is undone after it.
#pragma once

#include <gtest/gtest.h>

#include <cfenv>

namespace zorm::test {

#if defined(__x86_64__) || defined(__i386__)
inline unsigned short x87Control() {
    unsigned short control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    return control;
}

inline void setX87Control(unsigned short control) {
    asm volatile("fldcw %0" : : "m"(control));
}
#endif

class CallerEnvironment : public ::testing::Test {
protected:
    void SetUp() override { std::fegetenv(&saved_); }
    void TearDown() override { std::fesetenv(&saved_); }

private:
    std::fenv_t saved_{};
};

} // namespace zorm::test
