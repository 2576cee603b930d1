#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
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
  rapidjson::StringBuffer buffer;
  if (lineBreak.empty()) {
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    JsonValueWriter(writer, registry).Write(value);
    return std::string(buffer.GetString(), buffer.GetSize());
  }
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  JsonValueWriter(writer, registry).Write(value);
  const std::string_view written(buffer.GetString(), buffer.GetSize());
  if (lineBreak == "\n") return std::string(written);
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
