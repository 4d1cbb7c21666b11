// Values written with every digit a double can hold: 17 significant digits,
// each the digit of the exact value correctly rounded.  The engine decides
// from a double-double value and its error bound whether the rounding is
// certain; the writers print the same rounding from the same value.
#pragma once

#include "dd.hpp"

#include <cstdint>
#include <string>

namespace fasogram {

// digits * 10^(exponent - 16), 10^16 <= digits < 10^17 (digits 0 for zero).
struct Decimal17 {
    bool negative = false;
    std::uint64_t digits = 0;
    int exponent = 0;
};

// hi + lo rounded to 17 significant digits (ties to even).  `settled` (when
// given) tells whether every value within `err` of hi + lo rounds to the
// same digits.  Finite values only.
// With an exponent, the value is (hi + lo) * 2^exponent and the error
// err * 2^exponent.
Decimal17 round17(dd::DD value, double err, bool* settled = nullptr, int exponent = 0);

// Whether every value within err of value, both times 2^exponent, rounds
// to the same `significant` digits (finite values; decided exactly).
bool digits_settled(dd::DD value, double err, int exponent, int significant);

// "d.dddddddddddddddde+XX" (at least two exponent digits), as printf's %.16e
// writes a double.
std::string format17(const Decimal17& d);

} // namespace fasogram
