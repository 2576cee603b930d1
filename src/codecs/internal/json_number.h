// Reading a JSON number in one pass over its text: the grammar is checked,
// the digits are gathered as they are checked, and the value is converted
// from what was gathered. Integers that fit 64 bits stay integers (negative
// ones signed, the others unsigned, "-0" a signed zero); everything else is
// a double, correctly rounded.
#pragma once

#include <bit>
#include <cfloat>
#include <cstdint>
#include <cstring>

#include "codecs/internal/json_number_rounding.h"
#include "codecs/internal/json_syntax_error.h"

namespace Tesk::JsonNumbers {

enum class Kind : unsigned char { Unsigned, Signed, Float };

struct Number {
  Kind kind;
  union {
    uint64_t unsignedValue;
    int64_t signedValue;
    double floatValue;
  };
};

// The double a number's text denotes, correctly rounded, for the cases the
// integer paths leave (more than 19 digits, a large exponent, a quotient
// near a rounding boundary): `start`
// .. `end` is the number's whole text, `magnitude` the decimal exponent of
// its first significant digit. False when it is beyond the range of doubles;
// a number too small for one reads as a zero of its sign.
bool ConvertSlowly(const char* start, const char* end, int64_t magnitude, double& value);

// Powers of ten a double holds exactly.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Counts of digits and exponent digits stop here, far beyond any text that
// fits in memory, so that the exponent never overflows.
inline constexpr int64_t kCountLimit = int64_t{1} << 40;

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

inline constexpr uint32_t kBlockScale[] = {1,      10,      100,      1000,     10000,
                                           100000, 1000000, 10000000, 100000000};

// The digits that begin the eight bytes at `p` (0 to 8 of them): returns
// how many, and their number in `value`. Reads eight bytes whatever they
// hold: the text's padding keeps that in bounds.
inline int ReadDigitBlock(const char* p, uint32_t& value) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  // Each byte less '0': a digit gives 0..9. A byte below '0' wraps to 0x80
  // or more, one above '9' reaches 0x80 once 0x76 is added. Borrows and
  // carries only run from a byte to the ones after it, so every byte before
  // the first that is no digit is read right.
  const uint64_t digits = bytes - 0x3030303030303030u;
  const uint64_t notDigit = ((digits + 0x7676767676767676u) | digits) & 0x8080808080808080u;
  const int count = notDigit == 0 ? 8 : std::countr_zero(notDigit) >> 3;
  if (count == 0) {
    value = 0;
    return 0;
  }
  // The digits moved up to the last bytes, zeros before them; then pairs,
  // fours and all eight, each step one multiply.
  uint64_t number = digits << (8 * (8 - count));
  number = number * 10 + (number >> 8);
  number = ((number & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32)) +
            ((number >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32))) >>
           32;
  value = static_cast<uint32_t>(number);
  return count;
#else
  int count = 0;
  value = 0;
  for (; count < 8 && IsDigit(p[count]); ++count) value = value * 10 + (p[count] - '0');
  return count;
#endif
}

// Adds the digits at `s` to `mantissa` a block at a time while they fit its
// 19 digits; moves `s` past them and returns how many. Stops early at a
// block that would not fit, leaving its digits to the caller.
inline int TakeDigits(const char*& s, uint64_t& mantissa, int digits) {
  int taken = 0;
  for (;;) {
    uint32_t block;
    const int count = ReadDigitBlock(s, block);
    if (digits + taken + count > 19) return taken;
    mantissa = mantissa * kBlockScale[count] + block;
    taken += count;
    s += count;
    if (count < 8) return taken;
  }
}

// Reads the number at `p` (its first byte is '-' or a digit, or the text is
// not a value at all) and moves `p` past it. On a syntax error, returns it
// and leaves `p` at the offending byte; NumberTooBig leaves `p` at the
// number's start.
[[gnu::always_inline]] inline JsonSyntaxError Read(const char*& p, Number& out) {
  const char* const start = p;
  const char* s = p;
  const bool negative = *s == '-';
  if (negative) ++s;

  uint64_t mantissa = 0;  // the first 19 significant digits
  int digits = 0;         // how many of them there are
  int64_t dropped = 0;    // integer digits beyond them
  if (*s == '0') {
    ++s;
  } else if (*s >= '1' && *s <= '9') {
    digits = TakeDigits(s, mantissa, 0);
    while (digits < 19 && IsDigit(*s)) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*s - '0');
      ++digits;
      ++s;
    }
    for (; IsDigit(*s); ++s) {
      if (dropped < kCountLimit) ++dropped;
    }
  } else {
    p = s;
    return JsonSyntaxError::ValueInvalid;
  }

  int64_t exponent = dropped;  // decimal exponent of the gathered mantissa
  bool integer = true;
  int64_t leadingZeros = 0;  // zeros after the point before the first significant digit
  bool exact = dropped == 0;
  if (*s == '.') {
    ++s;
    if (!IsDigit(*s)) {
      p = s;
      return JsonSyntaxError::NumberMissFraction;
    }
    integer = false;
    if (digits == 0) {
      for (; *s == '0'; ++s) {
        if (leadingZeros < kCountLimit) ++leadingZeros;
      }
      exponent -= leadingZeros;
    }
    const int taken = TakeDigits(s, mantissa, digits);
    digits += taken;
    exponent -= taken;
    for (; digits < 19 && IsDigit(*s); ++s) {
      mantissa = mantissa * 10 + static_cast<unsigned>(*s - '0');
      ++digits;
      --exponent;
    }
    for (; IsDigit(*s); ++s) {
      if (*s != '0') exact = false;
    }
  }
  if ((*s | 0x20) == 'e') {
    ++s;
    bool exponentNegative = false;
    if (*s == '+') {
      ++s;
    } else if (*s == '-') {
      exponentNegative = true;
      ++s;
    }
    if (!IsDigit(*s)) {
      p = s;
      return JsonSyntaxError::NumberMissExponent;
    }
    integer = false;
    int64_t written = 0;
    do {
      // Beyond the limit the number is zero or infinite whatever follows.
      if (written < kCountLimit) written = written * 10 + (*s - '0');
      ++s;
    } while (IsDigit(*s));
    exponent += exponentNegative ? -written : written;
  }

  if (integer && dropped <= 1) {
    // 19 digits always fit; a 20th when the sum does not wrap.
    uint64_t value = mantissa;
    bool fits = true;
    if (dropped == 1) {
      const unsigned last = static_cast<unsigned>(s[-1] - '0');
      fits = mantissa <= (UINT64_MAX - last) / 10;
      value = mantissa * 10 + last;
    }
    if (fits && !negative) {
      out.kind = Kind::Unsigned;
      out.unsignedValue = value;
      p = s;
      return JsonSyntaxError::None;
    }
    if (fits && value <= uint64_t{1} << 63) {
      out.kind = Kind::Signed;
      out.signedValue = static_cast<int64_t>(0 - value);
      p = s;
      return JsonSyntaxError::None;
    }
  }

  out.kind = Kind::Float;
  double value;
  bool converted = false;
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 0
  // One rounding of exact operands: exact when the mantissa and the power
  // of ten both fit a double's 53 bits.
  if (exact && exponent >= -22 && exponent <= 22 && mantissa <= uint64_t{1} << 53) {
    const double m = static_cast<double>(mantissa);
    value = exponent < 0 ? m / kExactPowersOfTen[-exponent] : m * kExactPowersOfTen[exponent];
    converted = true;
  }
#endif
  if (!converted && exact) {
    if (mantissa == 0) {
      value = 0.0;
      converted = true;
    } else if (exponent >= -19 && exponent <= 19) {
      converted = RoundDecimal(mantissa, static_cast<int>(exponent), value);
    }
  }
  if (converted) {
    out.floatValue = negative ? -value : value;
    p = s;
    return JsonSyntaxError::None;
  }
  const int64_t magnitude = exponent + digits - 1;
  if (!ConvertSlowly(start, s, magnitude, value)) {
    p = start;
    return JsonSyntaxError::NumberTooBig;
  }
  out.floatValue = value;
  p = s;
  return JsonSyntaxError::None;
}

}  // namespace Tesk::JsonNumbers
