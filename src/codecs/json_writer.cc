// JSON text from a BindingProperty, written straight into the result string.
// The layout is that of RapidJSON's Writer and PrettyWriter (numbers through
// its dtoa and itoa, the same escapes), so the text does not depend on which
// of them wrote it; writing here needs neither their handler calls nor a copy
// out of their buffer.
#include <rapidjson/internal/dtoa.h>
#include <rapidjson/internal/itoa.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

#include "codecs/internal/enum_names.h"
#include "codecs/internal/scratch_buffer.h"
#include "codecs/json.h"

namespace Tesk {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char kHexDigits[] = "0123456789ABCDEF";

// How each byte is written inside a string: 0 as it is, 'u' as \u00XX, any
// other as a backslash and that letter.
constexpr auto kEscapes = [] {
  struct Table {
    char of[256] = {};
  } table;
  for (int c = 0; c < 0x20; ++c) table.of[c] = 'u';
  table.of[static_cast<unsigned char>('\b')] = 'b';
  table.of[static_cast<unsigned char>('\t')] = 't';
  table.of[static_cast<unsigned char>('\n')] = 'n';
  table.of[static_cast<unsigned char>('\f')] = 'f';
  table.of[static_cast<unsigned char>('\r')] = 'r';
  table.of[static_cast<unsigned char>('"')] = '"';
  table.of[static_cast<unsigned char>('\\')] = '\\';
  return table;
}();

// The bytes the text of `value` at `depth` is expected to take: numbers at
// their longest, strings without escapes. For reserving a large result once.
uint64_t ExpectedTextBytes(const BindingProperty& value, uint64_t depth, uint64_t lineBreakBytes) {
  // Before each item and before the closing bracket, in indented text.
  const auto lineBytes = [&](uint64_t level) {
    return lineBreakBytes == 0 ? 0 : lineBreakBytes + level * 4;
  };
  switch (value.Kind()) {
    case BindingPropertyKind::Empty:
    case BindingPropertyKind::Bool:
      return 5;
    case BindingPropertyKind::Signed:
    case BindingPropertyKind::Unsigned:
      return 20;
    case BindingPropertyKind::Float:
      return 24;
    case BindingPropertyKind::String:
      return value.Size() + 2;
    case BindingPropertyKind::Blob:
      return (uint64_t{value.Size()} + 2) / 3 * 4 + 2;
    case BindingPropertyKind::Enum:
      return 32;
    case BindingPropertyKind::Collection: {
      uint64_t bytes = 2 + lineBytes(depth);
      for (const BindingProperty& element : value.Elements()) {
        bytes += 1 + lineBytes(depth + 1) + ExpectedTextBytes(element, depth + 1, lineBreakBytes);
      }
      return bytes;
    }
    case BindingPropertyKind::Structure: {
      uint64_t bytes = 2 + lineBytes(depth);
      for (const auto member : value.Members()) {
        bytes += 1 + lineBytes(depth + 1) + member.name.size() + 4 +
                 ExpectedTextBytes(member.value, depth + 1, lineBreakBytes);
      }
      return bytes;
    }
  }
  return 0;
}

// The text being written. It is laid out in a scratch buffer (whose pages
// are usually warm already) and copied once into the result. A text larger
// than kChunkBytes is moved to the result a chunk at a time: the result's
// room is reserved once for the whole expected text, so the scratch stays
// small and warm and the result's pages are touched once, by the copy.
class TextOutput {
 public:
  static constexpr size_t kChunkBytes = size_t{1} << 20;
  // Reserving more than this for a text that is only expected is left to
  // the result's own growth.
  static constexpr uint64_t kMostReserved = uint64_t{1} << 28;

  TextOutput(const BindingProperty& value, std::string_view lineBreak)
      : value_(value), lineBreak_(lineBreak) {}

  // Room for `count` more bytes; the pointer to write them at.
  char* Reserve(size_t count) {
    if (static_cast<size_t>(end_ - cursor_) < count) Grow(count);
    return cursor_;
  }
  void Advance(char* to) { cursor_ = to; }
  void Put(char c) { *Reserve(1) = c, ++cursor_; }
  void Append(std::string_view bytes) {
    char* at = Reserve(bytes.size());
    std::memcpy(at, bytes.data(), bytes.size());
    cursor_ = at + bytes.size();
  }
  [[nodiscard]] std::string Text() {
    const size_t used = static_cast<size_t>(cursor_ - buffer_.data());
    if (!spilled_) return std::string(buffer_.data(), used);
    result_.append(buffer_.data(), used);
    return std::move(result_);
  }

 private:
  void Grow(size_t count) {
    size_t used = static_cast<size_t>(cursor_ - buffer_.data());
    if (used + count > kChunkBytes && used != 0) {
      if (!spilled_) {
        spilled_ = true;
        const uint64_t expected = ExpectedTextBytes(value_, 0, lineBreak_.size());
        if (expected <= kMostReserved) result_.reserve(static_cast<size_t>(expected));
      }
      result_.append(buffer_.data(), used);
      used = 0;
    }
    buffer_.Reserve(used + count);
    cursor_ = buffer_.data() + used;
    end_ = buffer_.data() + buffer_.capacity();
  }

  const BindingProperty& value_;
  std::string_view lineBreak_;
  ScratchBuffer buffer_;
  char* cursor_ = buffer_.data();
  char* end_ = buffer_.data() + buffer_.capacity();
  bool spilled_ = false;  // whether the text has begun to move to result_
  std::string result_;
};

class JsonTextWriter {
 public:
  // An empty `lineBreak` writes compact text; any other indents by four
  // spaces per level with `lineBreak` between lines.
  JsonTextWriter(TextOutput& out, const BindingRegistry* registry, std::string_view lineBreak)
      : out_(out), registry_(registry), lineBreak_(lineBreak) {}

  void Write(const BindingProperty& value, size_t depth) {
    switch (value.Kind()) {
      case BindingPropertyKind::Empty:
        out_.Append("null");
        return;
      case BindingPropertyKind::Bool:
        out_.Append(value.GetBool() ? std::string_view("true") : std::string_view("false"));
        return;
      case BindingPropertyKind::Signed: {
        char* at = out_.Reserve(24);
        out_.Advance(rapidjson::internal::i64toa(value.GetSigned(), at));
        return;
      }
      case BindingPropertyKind::Unsigned: {
        char* at = out_.Reserve(24);
        out_.Advance(rapidjson::internal::u64toa(value.GetUnsigned(), at));
        return;
      }
      case BindingPropertyKind::Float: {
        const double number = value.GetFloat();
        // JSON has no NaN or infinity: null keeps the text valid.
        if (!std::isfinite(number)) {
          out_.Append("null");
          return;
        }
        char* at = out_.Reserve(32);
        out_.Advance(rapidjson::internal::dtoa(number, at));
        return;
      }
      case BindingPropertyKind::String:
        WriteString(value.GetString());
        return;
      case BindingPropertyKind::Blob:
        WriteBase64(value.GetBlob());
        return;
      case BindingPropertyKind::Enum: {
        const BindingEnumValue enumValue = value.GetEnum();
        if (const auto name = CodecsInternal::EnumeratorName(registry_, enumValue)) {
          WriteString(*name);
        } else {
          char* at = out_.Reserve(12);
          out_.Advance(rapidjson::internal::i32toa(enumValue.value, at));
        }
        return;
      }
      case BindingPropertyKind::Collection:
        WriteContainer('[', ']', value.Elements(), depth,
                       [&](const BindingProperty& element) { Write(element, depth + 1); });
        return;
      case BindingPropertyKind::Structure:
        WriteContainer('{', '}', value.Members(), depth, [&](const auto member) {
          WriteString(member.name);
          if (lineBreak_.empty()) {
            out_.Put(':');
          } else {
            out_.Append(": ");
          }
          Write(member.value, depth + 1);
        });
        return;
    }
  }

 private:
  // An array or object at `depth`: "[]" or "{}" when empty; otherwise the
  // items separated by commas and, in indented text, each on a line of its
  // own, the closing bracket on a line at the container's own indentation.
  template <class Items, class WriteItem>
  void WriteContainer(char open, char close, const Items& items, size_t depth,
                      const WriteItem& writeItem) {
    if (items.empty()) {
      out_.Put(open);
      out_.Put(close);
      return;
    }
    out_.Put(open);
    bool first = true;
    for (const auto& item : items) {
      if (!first) out_.Put(',');
      first = false;
      if (!lineBreak_.empty()) Indent(depth + 1);
      writeItem(item);
    }
    if (!lineBreak_.empty()) Indent(depth);
    out_.Put(close);
  }

  // The line break and four spaces per level. Indented text has a line per
  // value, so this runs as often as values are written: the usual one-byte
  // break is stored directly and the spaces go sixteen at a time, with room
  // reserved for the last block to run past the indentation (the next token
  // overwrites it).
  void Indent(size_t depth) {
    static constexpr char kSpaces[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                                         ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
    const size_t spaces = depth * 4;
    char* at = out_.Reserve(lineBreak_.size() + spaces + sizeof kSpaces);
    if (lineBreak_.size() == 1) {
      *at++ = lineBreak_[0];
    } else {
      std::memcpy(at, lineBreak_.data(), lineBreak_.size());
      at += lineBreak_.size();
    }
    for (size_t i = 0; i < spaces; i += sizeof kSpaces)
      std::memcpy(at + i, kSpaces, sizeof kSpaces);
    out_.Advance(at + spaces);
  }

  void WriteString(std::string_view text) {
    // At most six bytes per byte (\u00XX) and the quotes.
    if (text.size() > (SIZE_MAX - 2) / 6) throw std::length_error("string too long");
    char* at = out_.Reserve(2 + text.size() * 6);
    *at++ = '"';
    for (const char c : text) {
      const char escape = kEscapes.of[static_cast<unsigned char>(c)];
      if (escape == 0) {
        *at++ = c;
      } else if (escape == 'u') {
        std::memcpy(at, "\\u00", 4);
        at[4] = kHexDigits[static_cast<unsigned char>(c) >> 4];
        at[5] = kHexDigits[static_cast<unsigned char>(c) & 15];
        at += 6;
      } else {
        at[0] = '\\';
        at[1] = escape;
        at += 2;
      }
    }
    *at++ = '"';
    out_.Advance(at);
  }

  void WriteBase64(std::span<const uint8_t> bytes) {
    char* at = out_.Reserve(2 + (bytes.size() + 2) / 3 * 4);
    *at++ = '"';
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
      const uint32_t group =
          (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
      at[0] = kBase64Alphabet[(group >> 18) & 63];
      at[1] = kBase64Alphabet[(group >> 12) & 63];
      at[2] = kBase64Alphabet[(group >> 6) & 63];
      at[3] = kBase64Alphabet[group & 63];
      at += 4;
    }
    if (i < bytes.size()) {
      const bool two = i + 1 < bytes.size();
      const uint32_t group = (uint32_t{bytes[i]} << 16) | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
      at[0] = kBase64Alphabet[(group >> 18) & 63];
      at[1] = kBase64Alphabet[(group >> 12) & 63];
      at[2] = two ? kBase64Alphabet[(group >> 6) & 63] : '=';
      at[3] = '=';
      at += 4;
    }
    *at++ = '"';
    out_.Advance(at);
  }

  TextOutput& out_;
  const BindingRegistry* registry_;
  std::string_view lineBreak_;
};

}  // namespace

std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry,
                      std::string_view lineBreak) {
  if (value.IsEmpty()) return {};
  TextOutput out(value, lineBreak);
  JsonTextWriter(out, registry, lineBreak).Write(value, 0);
  return out.Text();
}

}  // namespace Tesk
