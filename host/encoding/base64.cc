#include "encoding/base64.h"

#include <algorithm>
#include <cstdint>

namespace Tesk::DevHost {
namespace {

constexpr char kBase64Digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
  const char* found = std::find(kBase64Digits, kBase64Digits + 64, c);
  return found == kBase64Digits + 64 ? -1 : static_cast<int>(found - kBase64Digits);
}

}  // namespace

std::string Base64Decode(std::string_view text) {
  std::string out;
  uint32_t word = 0;
  int bits = 0;
  for (char c : text) {
    if (c == '=') break;
    const int value = Base64Value(c);
    if (value < 0) return {};
    word = (word << 6) | static_cast<uint32_t>(value);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((word >> bits) & 0xFF);
    }
  }
  return out;
}

std::string Base64Encode(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t rest = bytes.size() - i;
    const auto at = [&](size_t k) { return static_cast<uint32_t>(static_cast<uint8_t>(bytes[k])); };
    const uint32_t word =
        (at(i) << 16) | (rest > 1 ? at(i + 1) << 8 : 0) | (rest > 2 ? at(i + 2) : 0);
    out += kBase64Digits[(word >> 18) & 63];
    out += kBase64Digits[(word >> 12) & 63];
    out += rest > 1 ? kBase64Digits[(word >> 6) & 63] : '=';
    out += rest > 2 ? kBase64Digits[word & 63] : '=';
  }
  return out;
}

}  // namespace Tesk::DevHost
