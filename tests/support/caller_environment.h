// A fixture for tests that change the floating-point environment (flags,
// traps, rounding, x87 precision, MXCSR) before they call the temperature
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

#ifdef __x86_64__
// MXCSR, the SSE control and status register: flags in bits 0..5, their
// masks in 7..12, rounding in 13..14.
inline unsigned int sseControl() {
    unsigned int control = 0;
    asm volatile("stmxcsr %0" : "=m"(control));
    return control;
}

inline void setSseControl(unsigned int control) {
    asm volatile("ldmxcsr %0" : : "m"(control));
}
#endif

class CallerEnvironment : public ::testing::Test {
protected:
    void SetUp() override {
        std::fegetenv(&saved_);
#ifdef __x86_64__
        savedSse_ = sseControl(); // MinGW's fesetenv does not restore MXCSR
#endif
    }
    void TearDown() override {
        std::fesetenv(&saved_);
#ifdef __x86_64__
        setSseControl(savedSse_);
#endif
    }

private:
    std::fenv_t saved_{};
    unsigned int savedSse_ = 0;
};

} // namespace zorm::test
