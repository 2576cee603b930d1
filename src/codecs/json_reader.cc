// RapidJSON's reader is compiled here in a namespace of its own, with its SSE2
// scanning of white space and strings wherever the target has SSE2 (every
// x86-64, and the 32-bit builds, which are compiled for SSE2): other code of
// the program may use RapidJSON as configured by default without the two
// sharing an instantiation. The SSE2 scan reads aligned 16-byte blocks that
// may reach past the text's NUL (never past its page), which AddressSanitizer
// would report, so sanitizer builds keep the plain scan.
#define RAPIDJSON_NAMESPACE ktx_json_reader_rapidjson
#if defined(__SSE2__) && !defined(__SANITIZE_ADDRESS__)
#if defined(__has_feature)
#if !__has_feature(address_sanitizer)
#define RAPIDJSON_SSE2
#endif
#else
#define RAPIDJSON_SSE2
#endif
#endif
#include <rapidjson/error/en.h>
#include <rapidjson/reader.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "codecs/json.h"

namespace Tesk {
namespace {

constexpr char kTooDeepText[] = "The document is nested too deeply.";

bool IsNumberByte(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// Builds a BindingProperty from the reader's events. `target_` is the value the
// next scalar or container goes into; `open_` the containers not yet closed.
class JsonTreeBuilder {
 public:
  // `end` is where the stream's text ends.
  JsonTreeBuilder(BindingProperty& root, const RAPIDJSON_NAMESPACE::StringStream& stream,
                  const char* end)
      : target_(&root), stream_(stream), end_(end) {
    open_.reserve(32);
  }

  bool Null() {
    NextValue();
    return true;
  }
  bool Bool(bool value) {
    NextValue()->SetBool(value);
    return true;
  }
  bool Int(int value) {
    NextValue()->SetSigned(value);
    return true;
  }
  bool Uint(unsigned value) {
    NextValue()->SetUnsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    NextValue()->SetSigned(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    NextValue()->SetUnsigned(value);
    return true;
  }
  bool Double(double value) {
    // The reader's fast path can overflow a long mantissa with a large exponent
    // to infinity instead of reporting it: refuse it as too big, like the reader
    // does for other numbers beyond a double.
    if (!std::isfinite(value)) {
      numberTooBig_ = true;
      return false;
    }
    NextValue()->SetFloat(CorrectlyRounded(value));
    return true;
  }
  bool RawNumber(const char*, RAPIDJSON_NAMESPACE::SizeType, bool) { return false; }
  bool String(const char* text, RAPIDJSON_NAMESPACE::SizeType length, bool) {
    NextValue()->SetString(std::string_view(text, length));
    return true;
  }
  bool StartObject() {
    if (open_.size() >= kMaxJsonDepth) return TooDeep();
    BindingProperty* value = NextValue();
    value->MakeStructure();
    open_.push_back(value);
    return true;
  }
  bool Key(const char* name, RAPIDJSON_NAMESPACE::SizeType length, bool) {
    target_ = &open_.back()->MemberRef(std::string_view(name, length));
    return true;
  }
  bool EndObject(RAPIDJSON_NAMESPACE::SizeType) {
    open_.pop_back();
    return true;
  }
  bool StartArray() {
    if (open_.size() >= kMaxJsonDepth) return TooDeep();
    BindingProperty* value = NextValue();
    value->MakeCollection();
    open_.push_back(value);
    return true;
  }
  bool EndArray(RAPIDJSON_NAMESPACE::SizeType) {
    open_.pop_back();
    return true;
  }

  [[nodiscard]] bool tooDeep() const { return tooDeep_; }
  [[nodiscard]] bool numberTooBig() const { return numberTooBig_; }

 private:
  // Inside an array every value is a new element; elsewhere it goes to the
  // current target (the root, or the member a key selected).
  BindingProperty* NextValue() {
    if (!open_.empty() && open_.back()->Kind() == BindingPropertyKind::Collection) {
      target_ = &open_.back()->Append();
    }
    return target_;
  }
  bool TooDeep() {
    tooDeep_ = true;
    return false;
  }

  // The reader's own conversion of a decimal fraction is not always the
  // nearest double (1e-7 would read as 9.9999999999999995e-08): convert the
  // number's text again, correctly rounded. The reader reports a number while
  // its stream still stands at the number's first byte (it reads numbers
  // through a local copy of the stream); should it stand past the number
  // instead, the text is found backwards from there. A text beyond the range
  // of doubles keeps the reader's value.
  double CorrectlyRounded(double value) const {
    const char* start = stream_.src_;
    if (start == end_ || !IsNumberByte(*start)) {
      while (start != stream_.head_ && IsNumberByte(start[-1])) --start;
    }
    double exact;
    const std::from_chars_result read = std::from_chars(start, end_, exact);
    return read.ec == std::errc() ? exact : value;
  }

  BindingProperty* target_;
  const RAPIDJSON_NAMESPACE::StringStream& stream_;
  const char* end_;
  std::vector<BindingProperty*> open_;
  bool tooDeep_ = false;
  bool numberTooBig_ = false;
};

void FailWithReport(BindingResult& result, const char* text, size_t offset) {
  char message[160];
  std::snprintf(message, sizeof message, "Error: %s at offset %u.", text,
                static_cast<unsigned>(offset));
  result.Fail(message);
}

// Reads the NUL-terminated `input`; `length` is its length before the NUL.
BindingResult ParseTerminated(const char* input, size_t length) {
  BindingResult result;
  RAPIDJSON_NAMESPACE::StringStream stream(input);
  JsonTreeBuilder builder(result.value, stream, input + length);
  RAPIDJSON_NAMESPACE::Reader reader;
  const RAPIDJSON_NAMESPACE::ParseResult parsed = reader.Parse(stream, builder);
  if (parsed) return result;

  RAPIDJSON_NAMESPACE::ParseErrorCode code = parsed.Code();
  const size_t offset = parsed.Offset();
  // A raw control byte inside a string is an encoding error, whatever the
  // reader's version calls it.
  if (code == RAPIDJSON_NAMESPACE::kParseErrorStringEscapeInvalid && offset < length &&
      static_cast<unsigned char>(input[offset]) < 0x20) {
    code = RAPIDJSON_NAMESPACE::kParseErrorStringInvalidEncoding;
  }
  if (code == RAPIDJSON_NAMESPACE::kParseErrorTermination && builder.numberTooBig()) {
    code = RAPIDJSON_NAMESPACE::kParseErrorNumberTooBig;
  }
  if (code == RAPIDJSON_NAMESPACE::kParseErrorTermination && builder.tooDeep()) {
    FailWithReport(result, kTooDeepText, offset);
  } else {
    FailWithReport(result, RAPIDJSON_NAMESPACE::GetParseError_En(code), offset);
  }
  return result;
}

}  // namespace

BindingResult ParseJson(std::string_view text) {
  const size_t end = text.find('\0');
  if (end != std::string_view::npos) return ParseTerminated(text.data(), end);
  const std::string terminated(text);
  return ParseTerminated(terminated.c_str(), terminated.size());
}

BindingResult ParseJson(const std::string& text) {
  return ParseTerminated(text.c_str(), std::char_traits<char>::length(text.c_str()));
}

BindingResult ParseJson(const char* text) {
  if (text == nullptr) text = "";
  return ParseTerminated(text, std::char_traits<char>::length(text));
}

}  // namespace Tesk
