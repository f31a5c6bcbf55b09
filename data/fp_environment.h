// The floating-point environment in which the temperature arithmetic runs.
#pragma once

#include <cfenv>

namespace zorm {

// The control registers that <cfenv> does not reach everywhere: the x87
// control word (precision in bits 8..9) and, on x86-64, MXCSR (flags in bits
// 0..5, their masks in 7..12, rounding in 13..14).
#if defined(__x86_64__) || defined(__i386__)
inline unsigned short X87Control() {
    unsigned short control = 0;
    asm volatile("fnstcw %0" : "=m"(control));
    return control;
}
inline void SetX87Control(unsigned short control) {
    asm volatile("fldcw %0" : : "m"(control));
}
#endif
#ifdef __x86_64__
inline unsigned int SseControl() {
    unsigned int control = 0;
    asm volatile("stmxcsr %0" : "=m"(control));
    return control;
}
inline void SetSseControl(unsigned int control) {
    asm volatile("ldmxcsr %0" : : "m"(control));
}
#endif

// Keeps the caller's floating-point environment while the arithmetic runs:
// flags cleared, no traps, rounding to nearest and, on x87, the full 64-bit
// significand even if something in the process lowered the precision
// control. Everything is restored, flags included, when it goes out of scope,
// so the flags read inside it belong to the arithmetic done inside it.
//
// On x86-64 the SSE register MXCSR is saved and set by hand as well: MinGW's
// fegetenv and fesetenv leave it out, so a denormal widened to double would
// leave its flag behind, and the caller's SSE traps would stay armed.
class ExtendedArithmetic {
public:
    ExtendedArithmetic() {
#ifdef __x86_64__
        callerSse_ = SseControl();
        SetSseControl(0x1F80); // every exception masked, no flags, to nearest
#endif
        std::feholdexcept(&caller_);
        std::fesetround(FE_TONEAREST);
#if defined(__x86_64__) || defined(__i386__)
        SetX87Control(X87Control() | 0x0300); // precision control: 64-bit significand
#endif
    }
    ~ExtendedArithmetic() {
        std::fesetenv(&caller_);
#ifdef __x86_64__
        SetSseControl(callerSse_);
#endif
    }
    ExtendedArithmetic(const ExtendedArithmetic&) = delete;
    ExtendedArithmetic& operator=(const ExtendedArithmetic&) = delete;

    // Whether an overflow or an invalid operation happened since the scope
    // began (or since the last Clear). Underflow and inexact results are no
    // faults.
    static bool Faulted() {
        return std::fetestexcept(FE_OVERFLOW | FE_INVALID) != 0;
    }
    static void Clear() {
        std::feclearexcept(FE_ALL_EXCEPT);
    }

    // The compiler may move arithmetic that depends on nothing but registers
    // across the calls that set and restore the environment. Passed through
    // here (a volatile store and load) inside the scope, an input is read and
    // a result is formed where the scope is in force.
    template <typename T> static T Kept(T value) {
        volatile T kept = value;
        return kept;
    }

private:
    std::fenv_t caller_;
#ifdef __x86_64__
    unsigned int callerSse_ = 0;
#endif
};

} // namespace zorm
