#include <rapidjson/prettywriter.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <string>

#include "codecs/internal/enum_names.h"
#include "codecs/json.h"

namespace Tesk {
namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Base64(std::span<const uint8_t> bytes) {
  std::string text;
  text.reserve((bytes.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    const uint32_t group =
        (uint32_t{bytes[i]} << 16) | (uint32_t{bytes[i + 1]} << 8) | bytes[i + 2];
    text += kBase64Alphabet[(group >> 18) & 63];
    text += kBase64Alphabet[(group >> 12) & 63];
    text += kBase64Alphabet[(group >> 6) & 63];
    text += kBase64Alphabet[group & 63];
  }
  if (i < bytes.size()) {
    const bool two = i + 1 < bytes.size();
    const uint32_t group = (uint32_t{bytes[i]} << 16) | (two ? uint32_t{bytes[i + 1]} << 8 : 0);
    text += kBase64Alphabet[(group >> 18) & 63];
    text += kBase64Alphabet[(group >> 12) & 63];
    text += two ? kBase64Alphabet[(group >> 6) & 63] : '=';
    text += '=';
  }
  return text;
}

// RapidJSON's output stream concept over the result text itself, so that the
// writer's output needs no copy. The text grows by doubling; Finish cuts it to
// what was written.
class StringOutput {
 public:
  using Ch = char;
  explicit StringOutput(std::string& text) : text_(text) {}

  void Put(char c) {
    if (cursor_ == end_) Grow(1);
    *cursor_++ = c;
  }
  void PutUnchecked(char c) { *cursor_++ = c; }
  void Reserve(size_t count) {
    if (static_cast<size_t>(end_ - cursor_) < count) Grow(count);
  }
  void Flush() {}
  void Finish() { text_.resize(static_cast<size_t>(cursor_ - text_.data())); }

 private:
  void Grow(size_t count) {
    const size_t used = static_cast<size_t>(cursor_ - text_.data());
    size_t capacity = text_.size() * 2;
    if (capacity < used + count) capacity = used + count;
    if (capacity < 256) capacity = 256;
    text_.resize(capacity);
    cursor_ = text_.data() + used;
    end_ = text_.data() + capacity;
  }

  std::string& text_;
  char* cursor_ = text_.data();
  char* end_ = text_.data();
};

// Found by argument-dependent lookup from RapidJSON's Writer, which reserves
// room before writing a string or a number and then writes without checks.
inline void PutReserve(StringOutput& output, size_t count) { output.Reserve(count); }
inline void PutUnsafe(StringOutput& output, char c) { output.PutUnchecked(c); }

template <class Writer>
class JsonValueWriter {
 public:
  JsonValueWriter(Writer& writer, const BindingRegistry* registry)
      : writer_(writer), registry_(registry) {}

  void Write(const BindingProperty& value) {
    switch (value.Kind()) {
      case BindingPropertyKind::Empty:
        writer_.Null();
        return;
      case BindingPropertyKind::Bool:
        writer_.Bool(value.GetBool());
        return;
      case BindingPropertyKind::Signed:
        writer_.Int64(value.GetSigned());
        return;
      case BindingPropertyKind::Unsigned:
        writer_.Uint64(value.GetUnsigned());
        return;
      case BindingPropertyKind::Float: {
        const double number = value.GetFloat();
        // JSON has no NaN or infinity: null keeps the text valid.
        if (std::isfinite(number)) {
          writer_.Double(number);
        } else {
          writer_.Null();
        }
        return;
      }
      case BindingPropertyKind::String: {
        const std::string_view text = value.GetString();
        writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
        return;
      }
      case BindingPropertyKind::Blob: {
        const std::string text = Base64(value.GetBlob());
        writer_.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
        return;
      }
      case BindingPropertyKind::Enum: {
        const BindingEnumValue enumValue = value.GetEnum();
        if (const auto name = CodecsInternal::EnumeratorName(registry_, enumValue)) {
          writer_.String(name->data(), static_cast<rapidjson::SizeType>(name->size()));
        } else {
          writer_.Int(enumValue.value);
        }
        return;
      }
      case BindingPropertyKind::Collection:
        writer_.StartArray();
        for (const BindingProperty& element : value.Elements()) Write(element);
        writer_.EndArray();
        return;
      case BindingPropertyKind::Structure:
        writer_.StartObject();
        for (const auto member : value.Members()) {
          writer_.Key(member.name.data(), static_cast<rapidjson::SizeType>(member.name.size()));
          Write(member.value);
        }
        writer_.EndObject();
        return;
    }
  }

 private:
  Writer& writer_;
  const BindingRegistry* registry_;
};

}  // namespace

std::string WriteJson(const BindingProperty& value, const BindingRegistry* registry,
                      std::string_view lineBreak) {
  if (value.IsEmpty()) return {};
  std::string written;
  StringOutput output(written);
  if (lineBreak.empty()) {
    rapidjson::Writer<StringOutput> writer(output);
    JsonValueWriter(writer, registry).Write(value);
    output.Finish();
    return written;
  }
  rapidjson::PrettyWriter<StringOutput> writer(output);
  JsonValueWriter(writer, registry).Write(value);
  output.Finish();
  if (lineBreak == "\n") return written;
  // Line feeds inside strings are escaped: every raw one is a layout break.
  std::string text;
  text.reserve(written.size() + written.size() / 8 * (lineBreak.size() - 1));
  for (char c : written) {
    if (c == '\n') {
      text += lineBreak;
    } else {
      text += c;
    }
  }
  return text;
}

}  // namespace Tesk
