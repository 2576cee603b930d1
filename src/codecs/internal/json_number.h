// Reading a JSON number in one pass over its text: the grammar is checked,
// the digits are gathered as they are checked, and the value is converted
// from what was gathered. Integers that fit 64 bits stay integers (negative
// ones signed, the others unsigned, "-0" a signed zero); everything else is
// a double, correctly rounded.
#pragma once

#include <cfloat>
#include <cstdint>
#include <cstring>

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
// fast path leaves (more than 2^53 or 19 digits, a large exponent): `start`
// .. `end` is the number's whole text, `magnitude` the decimal exponent of
// its first significant digit. False when it is beyond the range of doubles;
// a number too small for one reads as a zero of its sign.
bool ConvertSlowly(const char* start, const char* end, int magnitude, double& value);

// The double nearest to `mantissa` times ten to the `exponent`, for a
// mantissa of more than 53 bits and an exponent of at most 19 either way
// (both exact as 64-bit integers): a quick estimate checked, and corrected,
// against the halfway points beside it in exact integer arithmetic. False
// when that did not settle it (the caller then converts the text).
bool ConvertNear(uint64_t mantissa, int exponent, double& value);

// Powers of ten a double holds exactly.
inline constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Counts of digits stop here: the exponent stays far from int's limits.
inline constexpr int kCountLimit = 1 << 28;

inline bool IsDigit(char c) { return static_cast<unsigned char>(c - '0') < 10; }

// When the eight bytes at `p` are all digits, adds them to `mantissa` (times
// 10^8) and returns true. Reads eight bytes whatever they hold: the text's
// padding keeps that in bounds.
inline bool TakeEightDigits(const char* p, uint64_t& mantissa) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  uint64_t bytes;
  std::memcpy(&bytes, p, sizeof bytes);
  // Every byte is 0x30..0x39: its high half is 3, and so it stays after
  // adding 6 (which carries into the high half from 0x3A on).
  constexpr uint64_t kHighHalves = 0xF0F0F0F0F0F0F0F0u;
  if ((((bytes & kHighHalves) | (((bytes + 0x0606060606060606u) & kHighHalves) >> 4))) !=
      0x3333333333333333u) {
    return false;
  }
  // Pairs, then fours, then all eight, each step one multiply.
  uint64_t digits = bytes - 0x3030303030303030u;
  digits = digits * 10 + (digits >> 8);
  digits = ((digits & 0x000000FF000000FFu) * (100 + (uint64_t{1000000} << 32)) +
            ((digits >> 16) & 0x000000FF000000FFu) * (1 + (uint64_t{10000} << 32))) >>
           32;
  mantissa = mantissa * 100000000 + static_cast<uint32_t>(digits);
  return true;
#else
  (void)p;
  (void)mantissa;
  return false;
#endif
}

// Reads the number at `p` (its first byte is '-' or a digit, or the text is
// not a value at all) and moves `p` past it. On a syntax error, returns it
// and leaves `p` at the offending byte; NumberTooBig leaves `p` at the
// number's start.
inline JsonSyntaxError Read(const char*& p, Number& out) {
  const char* const start = p;
  const char* s = p;
  const bool negative = *s == '-';
  if (negative) ++s;

  uint64_t mantissa = 0;  // the first 19 significant digits
  int digits = 0;         // how many of them there are
  int dropped = 0;        // integer digits beyond them
  if (*s == '0') {
    ++s;
  } else if (*s >= '1' && *s <= '9') {
    mantissa = static_cast<unsigned>(*s - '0');
    digits = 1;
    ++s;
    while (digits <= 11 && TakeEightDigits(s, mantissa)) {
      digits += 8;
      s += 8;
    }
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

  int exponent = dropped;  // decimal exponent of the gathered mantissa
  bool integer = true;
  int leadingZeros = 0;  // zeros after the point before the first significant digit
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
    while (digits <= 11 && TakeEightDigits(s, mantissa)) {
      digits += 8;
      exponent -= 8;
      s += 8;
    }
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
    int written = 0;
    do {
      // Beyond the limit the number is zero or infinite whatever follows.
      if (written < kCountLimit / 10) written = written * 10 + (*s - '0');
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
#if defined(__FLT_EVAL_METHOD__) && __FLT_EVAL_METHOD__ == 0
  // One rounding of exact operands: exact when the mantissa and the power
  // of ten both fit a double's 53 bits.
  if (exact && exponent >= -22 && exponent <= 22 && mantissa <= uint64_t{1} << 53) {
    const double m = static_cast<double>(mantissa);
    value = exponent < 0 ? m / kExactPowersOfTen[-exponent] : m * kExactPowersOfTen[exponent];
    out.floatValue = negative ? -value : value;
    p = s;
    return JsonSyntaxError::None;
  }
#endif
  if (exact && exponent >= -19 && exponent <= 19 && ConvertNear(mantissa, exponent, value)) {
    out.floatValue = negative ? -value : value;
    p = s;
    return JsonSyntaxError::None;
  }
  if (mantissa == 0 && exact) {
    out.floatValue = negative ? -0.0 : 0.0;
    p = s;
    return JsonSyntaxError::None;
  }
  const int magnitude = exponent + digits - 1;
  if (!ConvertSlowly(start, s, magnitude, value)) {
    p = start;
    return JsonSyntaxError::NumberTooBig;
  }
  out.floatValue = value;
  p = s;
  return JsonSyntaxError::None;
}

}  // namespace Tesk::JsonNumbers
