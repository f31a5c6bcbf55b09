// The floating-point environment in which the temperature arithmetic runs.
#pragma once

#include <cfenv>

namespace zorm {

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
        asm volatile("stmxcsr %0" : "=m"(callerSse_));
        const unsigned int sse = 0x1F80; // every exception masked, no flags, to nearest
        asm volatile("ldmxcsr %0" : : "m"(sse));
#endif
        std::feholdexcept(&caller_);
        std::fesetround(FE_TONEAREST);
#if defined(__x86_64__) || defined(__i386__)
        unsigned short control = 0;
        asm volatile("fnstcw %0" : "=m"(control));
        control |= 0x0300; // precision control: 64-bit significand
        asm volatile("fldcw %0" : : "m"(control));
#endif
    }
    ~ExtendedArithmetic() {
        std::fesetenv(&caller_);
#ifdef __x86_64__
        asm volatile("ldmxcsr %0" : : "m"(callerSse_));
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

private:
    std::fenv_t caller_;
#ifdef __x86_64__
    unsigned int callerSse_ = 0;
#endif
};

} // namespace zorm
