// Rounding a decimal significand of up to 19 digits times a power of ten of
// at most 19 either way to the nearest double, in integer arithmetic, small
// enough to inline into the number reader. The rare quotient these leave
// open goes to the reader's conversion of the text.
#pragma once

#include <bit>
#include <cstdint>

namespace Tesk::JsonNumbers {

// An unsigned 128-bit integer, also where the compiler has no such type
// (32-bit targets).
struct Unsigned128 {
  uint64_t high;
  uint64_t low;
};

// The full product of two 64-bit integers.
[[gnu::always_inline]] inline Unsigned128 Multiply(uint64_t a, uint64_t b) {
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

[[gnu::always_inline]] inline int BitLength(Unsigned128 x) {
  return x.high != 0 ? 128 - std::countl_zero(x.high) : 64 - std::countl_zero(x.low);
}

inline constexpr uint64_t kPowersOfTen[] = {1u,
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

// The double nearest to a number whose top 54 bits are `top54`, worth
// 2^power each, and whose bits below them are nonzero when `sticky`: the 53
// kept and the rounding bit, ties to even. The result must be a normal
// double.
[[gnu::always_inline]] inline double RoundToDouble(uint64_t top54, bool sticky, int power) {
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
[[gnu::always_inline]] inline uint64_t Top54(Unsigned128 x, int length, bool& sticky) {
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
inline constexpr Reciprocals kReciprocals;

// mantissa / 10^k (k = 1..19) through the reciprocal. The reciprocal is
// rounded down and never exact (10^k divides no power of two), so the top 128
// bits of the 192-bit product lie below the exact scaled quotient, by less
// than two: the quotient has bits set below the kept ones (never a tie), and
// the kept ones are right unless the bits below them are within two of a
// carry. False then.
[[gnu::always_inline]] inline bool DivideByReciprocal(uint64_t mantissa, int k, double& value) {
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
  if ((product.high & restMask) == restMask && product.low >= UINT64_MAX - 1) return false;
  // value = product * 2^(-leading - 63 - c), with its top 54 bits `shift` up.
  const int power = shift - leading - 63 - kReciprocals.scale[k];
  value = RoundToDouble(product.high >> (shift - 64), true, power);
  return true;
}

// The double nearest to `mantissa` (not zero) times 10^exponent, |exponent|
// <= 19; false when the rounding is left open (a quotient within two units
// of a boundary).
[[gnu::always_inline]] inline bool RoundDecimal(uint64_t mantissa, int exponent, double& value) {
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
  return DivideByReciprocal(mantissa, -exponent, value);
}

}  // namespace Tesk::JsonNumbers
