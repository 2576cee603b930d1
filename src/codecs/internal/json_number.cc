#include "codecs/internal/json_number.h"

#include <bit>
#include <charconv>
#include <system_error>

namespace Tesk::JsonNumbers {
namespace {

struct Unsigned128 {
  uint64_t high;
  uint64_t low;
};

// The helpers are forced inline: called once per number read, a call each
// costs as much as the work.
#define KTX_ALWAYS_INLINE [[gnu::always_inline]] inline

KTX_ALWAYS_INLINE Unsigned128 Multiply(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 product = static_cast<unsigned __int128>(a) * b;
  return {static_cast<uint64_t>(product >> 64), static_cast<uint64_t>(product)};
#else
  const uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
  const uint64_t p00 = a0 * b0, p01 = a0 * b1, p10 = a1 * b0, p11 = a1 * b1;
  const uint64_t middle = (p00 >> 32) + (p01 & 0xFFFFFFFFu) + (p10 & 0xFFFFFFFFu);
  return {p11 + (p01 >> 32) + (p10 >> 32) + (middle >> 32), middle << 32 | (p00 & 0xFFFFFFFFu)};
#endif
}

KTX_ALWAYS_INLINE int BitLength(Unsigned128 x) {
  return x.high != 0 ? 128 - std::countl_zero(x.high) : 64 - std::countl_zero(x.low);
}

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

constexpr uint64_t kPowersOfTen[] = {1u,
                                     10u,
                                     100u,
                                     1000u,
                                     10000u,
                                     100000u,
                                     1000000u,
                                     10000000u,
                                     100000000u,
                                     1000000000u,
                                     10000000000u,
                                     100000000000u,
                                     1000000000000u,
                                     10000000000000u,
                                     100000000000000u,
                                     1000000000000000u,
                                     10000000000000000u,
                                     100000000000000000u,
                                     1000000000000000000u,
                                     10000000000000000000u};

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

// The double nearest to `number` * 2^power, for a number of 54 bits or
// more whose bits below the top 54 are `rest` (`restBits` of them; 0 when
// they are only known to be nonzero through `sticky`). The result must be
// a normal double.
KTX_ALWAYS_INLINE double RoundToDouble(uint64_t top54, bool sticky, int power) {
  // top54: the 53 bits kept and the rounding bit below them.
  uint64_t significand = top54 >> 1;
  if ((top54 & 1) != 0 && (sticky || (significand & 1) != 0)) ++significand;
  if (significand >> 53 != 0) {  // rounded up to the next power of two
    significand >>= 1;
    ++power;
  }
  const uint64_t biased = static_cast<uint64_t>(power + 1 + 1075);
  return std::bit_cast<double>(biased << 52 | (significand & ((uint64_t{1} << 52) - 1)));
}

// The top 54 bits of a 128-bit `x` of `length` bits (54 or more), and
// whether any bit below them is set.
KTX_ALWAYS_INLINE uint64_t Top54(Unsigned128 x, int length, bool& sticky) {
  const int shift = length - 54;  // 0 .. 74
  if (shift >= 64) {
    sticky = x.low != 0 || (x.high & ((uint64_t{1} << (shift - 64)) - 1)) != 0;
    return x.high >> (shift - 64);
  }
  if (shift == 0) {
    sticky = false;
    return x.low;
  }
  sticky = (x.low & ((uint64_t{1} << shift) - 1)) != 0;
  return x.high << (64 - shift) | x.low >> shift;
}

// floor(2^(127 + c) / 10^k) for k = 1..19, where c is the bit length of
// 10^k: each lies in [2^127, 2^128).
struct Reciprocals {
  Unsigned128 byPower[20] = {};
  int scale[20] = {};  // c
  constexpr Reciprocals() {
    for (int k = 1; k < 20; ++k) {
      const uint64_t divisor = kPowersOfTen[k];
      int c = 0;
      while (c < 64 && (divisor >> c) != 0) ++c;
      scale[k] = c;
      // Long division, one bit at a time, of a numerator whose only set bit
      // is bit 127 + c; the remainder needs a 65th bit, kept in `carry`.
      uint64_t remainder = 0;
      Unsigned128 quotient{0, 0};
      for (int bit = 127 + c; bit >= 0; --bit) {
        const bool carry = (remainder >> 63) != 0;
        remainder = remainder << 1 | (bit == 127 + c ? 1 : 0);
        const bool goes = carry || remainder >= divisor;
        if (goes) remainder -= divisor;
        if (bit < 128) {
          quotient.high = quotient.high << 1 | quotient.low >> 63;
          quotient.low = quotient.low << 1 | (goes ? 1 : 0);
        }
      }
      byPower[k] = quotient;
    }
  }
};
constexpr Reciprocals kReciprocals;

// mantissa / 10^k (k = 1..19) through the reciprocal: the top 128 bits of
// the 192-bit product fall short of the exact scaled quotient by less than
// two, which decides the rounding unless the bits below the kept ones are
// within two of a carry or could all be zero on a halfway point. False then.
KTX_ALWAYS_INLINE bool DivideByReciprocal(uint64_t mantissa, int k, double& value) {
  const int leading = std::countl_zero(mantissa);
  const uint64_t normalized = mantissa << leading;
  const Unsigned128 reciprocal = kReciprocals.byPower[k];
  const Unsigned128 high = Multiply(normalized, reciprocal.high);
  const Unsigned128 low = Multiply(normalized, reciprocal.low);
  Unsigned128 product = {high.high, high.low + low.high};
  if (product.low < high.low) ++product.high;
  // product = floor(normalized * reciprocal / 2^64), of 127 or 128 bits.
  const int length = (product.high >> 63) != 0 ? 128 : 127;
  const int shift = length - 54;  // 73 or 74: all below the top 54 lie in the low word and more
  const uint64_t restMask = (uint64_t{1} << (shift - 64)) - 1;
  const uint64_t restHigh = product.high & restMask;
  // Within two of the next carry: the exact quotient may carry into the kept bits.
  if (restHigh == restMask && product.low >= UINT64_MAX - 1) return false;
  const uint64_t top54 = product.high >> (shift - 64);
  const bool restZero = restHigh == 0 && product.low == 0;
  // A halfway pattern whose rest may be exactly zero: a tie or not.
  if ((top54 & 1) != 0 && restZero) return false;
  // value = product * 2^(-leading - 63 - c), with top54 `shift` bits up.
  const int power = shift - leading - 63 - kReciprocals.scale[k];
  value = RoundToDouble(top54, !restZero, power);
  return true;
}

}  // namespace

bool ConvertNear(uint64_t mantissa, int exponent, double& value) {
  if (mantissa == 0) return false;
  if (exponent >= 0) {
    // The product is exact in 128 bits: round it.
    const Unsigned128 product = Multiply(mantissa, kPowersOfTen[exponent]);
    const int length = BitLength(product);
    if (length <= 53) {
      value = static_cast<double>(product.low);
      return true;
    }
    bool sticky;
    const uint64_t top54 = Top54(product, length, sticky);
    value = RoundToDouble(top54, sticky, length - 54);
    return true;
  }
  if (DivideByReciprocal(mantissa, -exponent, value)) return true;
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

bool ConvertSlowly(const char* start, const char* end, int magnitude, double& value) {
  const std::from_chars_result read = std::from_chars(start, end, value);
  if (read.ec == std::errc()) return true;
  // Out of range: beyond the largest double, or closer to zero than the
  // smallest one.
  if (magnitude > 0) return false;
  value = *start == '-' ? -0.0 : 0.0;
  return true;
}

}  // namespace Tesk::JsonNumbers
