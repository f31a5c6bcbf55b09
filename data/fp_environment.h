// The floating-point environment in which the temperature arithmetic runs.
#pragma once

#include <cfenv>

namespace zorm {

// Keeps the caller's floating-point environment while the arithmetic runs:
// flags cleared, no traps, rounding to nearest and, on x87, the full 64-bit
// significand even if something in the process lowered the precision
// control. Everything is restored, flags included, when it goes out of scope,
// so the flags read inside it belong to the arithmetic done inside it.
class ExtendedArithmetic {
public:
    ExtendedArithmetic() {
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
};

} // namespace zorm
