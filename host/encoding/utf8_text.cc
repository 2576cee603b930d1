#include "encoding/utf8_text.h"

#include <cstdint>

namespace Tesk::DevHost {
namespace {

// The length of the well-formed sequence at `at`, or 0 when the bytes there
// start an ill-formed one; `subpart` then tells how many bytes to replace.
size_t SequenceLength(std::string_view text, size_t at, size_t& subpart) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(at);
  subpart = 1;
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;   // overlong
    if (lead == 0xED) high = 0x9F;  // surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;   // overlong
    if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
  } else {
    return 0;
  }
  for (size_t i = 1; i < length; ++i) {
    if (at + i >= text.size()) return 0;
    const uint8_t next = byte(at + i);
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    subpart = i + 1;
  }
  return length;
}

}  // namespace

bool IsValidUtf8(std::string_view text) {
  size_t subpart = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t length = SequenceLength(text, at, subpart);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::string ValidUtf8(std::string_view text) {
  if (IsValidUtf8(text)) return std::string(text);
  std::string valid;
  valid.reserve(text.size() + 16);
  size_t subpart = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t length = SequenceLength(text, at, subpart);
    if (length == 0) {
      valid += "\xEF\xBF\xBD";
      at += subpart;
    } else {
      valid.append(text, at, length);
      at += length;
    }
  }
  return valid;
}

}  // namespace Tesk::DevHost
