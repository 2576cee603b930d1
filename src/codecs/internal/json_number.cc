#include "codecs/internal/json_number.h"

#include <bit>
#include <charconv>
#include <system_error>

#include "codecs/internal/json_number_rounding.h"

namespace Tesk::JsonNumbers {
namespace {

// Forced inline: the helpers are small and the comparisons run them twice.
#define KTX_ALWAYS_INLINE [[gnu::always_inline]] inline

// `x` shifted left by `shift` (0..127), which must not lose a bit.
KTX_ALWAYS_INLINE Unsigned128 ShiftLeft(Unsigned128 x, int shift) {
  if (shift == 0) return x;
  if (shift >= 64) return {x.low << (shift - 64), 0};
  return {x.high << shift | x.low >> (64 - shift), x.low << shift};
}

KTX_ALWAYS_INLINE int Compare(Unsigned128 a, Unsigned128 b) {
  if (a.high != b.high) return a.high < b.high ? -1 : 1;
  if (a.low != b.low) return a.low < b.low ? -1 : 1;
  return 0;
}

// The sign of x - y * 2^shift.
KTX_ALWAYS_INLINE int CompareScaled(Unsigned128 x, Unsigned128 y, int shift) {
  if (shift >= 0) {
    if (y.high == 0 && y.low == 0) return x.high == 0 && x.low == 0 ? 0 : 1;
    if (BitLength(y) + shift > 128) return -1;
    return Compare(x, ShiftLeft(y, shift));
  }
  if (x.high == 0 && x.low == 0) return y.high == 0 && y.low == 0 ? 0 : -1;
  if (BitLength(x) - shift > 128) return 1;
  return Compare(ShiftLeft(x, -shift), y);
}

// The sign of mantissa * 10^exponent - halfway * 2^shift.
KTX_ALWAYS_INLINE int CompareWithHalfway(uint64_t mantissa, int exponent, uint64_t halfway,
                                         int shift) {
  if (exponent >= 0) {
    return CompareScaled(Multiply(mantissa, kPowersOfTen[exponent]), {0, halfway}, shift);
  }
  // Both sides times 10^-exponent.
  return CompareScaled({0, mantissa}, Multiply(halfway, kPowersOfTen[-exponent]), shift);
}

// For mantissa / divisor (divisor 10^1 .. 10^19): moves the estimate `bits`
// to the nearest double. With the estimate at significand * 2^power, one
// exact difference decides: d = mantissa * 2^(1 - power) - 2 * significand
// * divisor is the distance from the estimate in halves of its last place
// (times the divisor), so |d| beyond the divisor means a step. False when
// the numbers fall outside what 128 bits hold here (the caller then compares
// each halfway point on its own).
KTX_ALWAYS_INLINE bool SettleQuotient(uint64_t mantissa, uint64_t divisor, uint64_t& bits) {
  for (int step = 0; step < 4; ++step) {
    const int biased = static_cast<int>(bits >> 52);
    if (biased == 0 || biased == 0x7FF) return false;
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    const uint64_t significand = fraction | uint64_t{1} << 52;
    const int shift = 1075 + 1 - biased;  // 1 - power
    if (shift < 0 || BitLength({0, mantissa}) + shift > 128) return false;
    const Unsigned128 scaled = ShiftLeft({0, mantissa}, shift);
    const Unsigned128 estimate = Multiply(2 * significand, divisor);
    const uint64_t low = scaled.low - estimate.low;
    const uint64_t high = scaled.high - estimate.high - (scaled.low < estimate.low ? 1 : 0);
    const bool odd = (significand & 1) != 0;
    if (high == 0) {  // at or above the estimate
      if (low > divisor || (low == divisor && odd)) {
        ++bits;
        continue;
      }
      return true;
    }
    if (high == UINT64_MAX && low != 0) {  // below it, by 0 - low
      const uint64_t distance = 0 - low;
      // Below a power of two the next double down is half as far.
      const uint64_t halfway = fraction == 0 ? divisor / 2 : divisor;
      if (distance > halfway || (distance == halfway && odd)) {
        --bits;
        continue;
      }
      return true;
    }
    // Far off: a step in its direction.
    if (high >> 63 != 0) {
      --bits;
    } else {
      ++bits;
    }
  }
  return false;
}

}  // namespace

bool ConvertNear(uint64_t mantissa, int exponent, double& value) {
  if (mantissa == 0) return false;
  if (RoundDecimal(mantissa, exponent, value)) return true;
  // Off by a few units in the last place at most (three roundings, one of
  // them of an inexact power); the steps below settle it.
  const double estimate = exponent < 0
                              ? static_cast<double>(mantissa) / kExactPowersOfTen[-exponent]
                              : static_cast<double>(mantissa) * kExactPowersOfTen[exponent];
  uint64_t bits = std::bit_cast<uint64_t>(estimate);
  if (exponent < 0 && SettleQuotient(mantissa, kPowersOfTen[-exponent], bits)) {
    value = std::bit_cast<double>(bits);
    return true;
  }
  for (int step = 0; step < 4; ++step) {
    const int biased = static_cast<int>(bits >> 52);
    // Zero, subnormal, infinite: never reached from these inputs.
    if (biased == 0 || biased == 0x7FF) return false;
    const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
    const uint64_t significand = fraction | uint64_t{1} << 52;
    const int power = biased - 1075;  // candidate = significand * 2^power
    const bool odd = (significand & 1) != 0;

    // Above the halfway point to the next double up (or on it, from an odd
    // significand): round up.
    const int above = CompareWithHalfway(mantissa, exponent, 2 * significand + 1, power - 1);
    if (above > 0 || (above == 0 && odd)) {
      ++bits;
      continue;
    }
    // Below the halfway point to the next double down (whose gap is half as
    // wide below a power of two).
    const int below = fraction == 0
                          ? CompareWithHalfway(mantissa, exponent, 4 * significand - 1, power - 2)
                          : CompareWithHalfway(mantissa, exponent, 2 * significand - 1, power - 1);
    if (below < 0 || (below == 0 && odd)) {
      --bits;
      continue;
    }
    value = std::bit_cast<double>(bits);
    return true;
  }
  return false;
}

bool ConvertSlowly(const char* start, const char* end, int64_t magnitude, double& value) {
  const std::from_chars_result read = std::from_chars(start, end, value);
  if (read.ec == std::errc()) return true;
  // Out of range: beyond the largest double, or closer to zero than the
  // smallest one.
  if (magnitude > 0) return false;
  value = *start == '-' ? -0.0 : 0.0;
  return true;
}

}  // namespace Tesk::JsonNumbers
