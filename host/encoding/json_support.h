// JSON inside the development host: bounded parsing into RapidJSON documents
// and compact writing. Everything the host reads from a client or a file goes
// through ParseJson, so that no input can nest deep enough to exhaust a stack
// in the recursive code that walks values afterwards.
#pragma once

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>
#include <string_view>

#include "encoding/utf8_text.h"

namespace Tesk::DevHost {

inline constexpr unsigned kMaxJsonDepth = 512;

// Reads `text` as one JSON value. Returns false with a message naming the
// offset when the text is not JSON, or when it nests deeper than
// kMaxJsonDepth levels. The parser itself does not recurse.
[[nodiscard]] bool ParseJson(std::string_view text, rapidjson::Document& document,
                             std::string& error);

// RapidJSON's compact writer, writing only valid UTF-8: ill-formed bytes in
// a string or a name become U+FFFD. Every JSON text the host produces goes
// through it.
class JsonWriter : public rapidjson::Writer<rapidjson::StringBuffer> {
 public:
  using Base = rapidjson::Writer<rapidjson::StringBuffer>;
  using Base::Base;
  bool String(const char* text, rapidjson::SizeType length, bool copy = false) {
    if (IsValidUtf8({text, length})) return Base::String(text, length, copy);
    const std::string valid = ValidUtf8({text, length});
    return Base::String(valid.data(), static_cast<rapidjson::SizeType>(valid.size()), true);
  }
  bool String(const char* text) {
    return String(text, static_cast<rapidjson::SizeType>(std::char_traits<char>::length(text)));
  }
  bool Key(const char* text, rapidjson::SizeType length, bool copy = false) {
    return String(text, length, copy);
  }
  bool Key(const char* text) { return String(text); }
};

// Compact JSON text of `value`.
[[nodiscard]] std::string WriteJson(const rapidjson::Value& value);

// `text` as a JSON string literal, quotes included.
[[nodiscard]] std::string JsonQuote(std::string_view text);

// {"message":"<message>"}: the body of every error answer of the host.
[[nodiscard]] std::string ErrorJson(std::string_view message);

// A member's string value, or `fallback` when absent or not a string.
[[nodiscard]] std::string StringMember(const rapidjson::Value& object, const char* name,
                                       std::string_view fallback = {});

}  // namespace Tesk::DevHost
