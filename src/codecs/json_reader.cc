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

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <system_error>
#include <vector>

#include "binding/binding_tree_builder.h"
#include "codecs/internal/scratch_buffer.h"
#include "codecs/json.h"

namespace Tesk {
namespace {

constexpr char kTooDeepText[] = "The document is nested too deeply.";

bool IsNumberByte(char c) {
  return (c >= '0' && c <= '9') || c == '-' || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// Builds the tree bottom-up (BindingTreeBuilder): the usual way.
class BottomUpSink {
 public:
  explicit BottomUpSink(BindingProperty& root) : builder_(root) {}
  void Empty() { builder_.Empty(); }
  void Bool(bool value) { builder_.Bool(value); }
  void Signed(int64_t value) { builder_.Signed(value); }
  void Unsigned(uint64_t value) { builder_.Unsigned(value); }
  void Float(double value) { builder_.Float(value); }
  void String(std::string_view text) { builder_.String(text); }
  void Key(std::string_view name) { builder_.Key(name); }
  void StartCollection() { builder_.StartCollection(); }
  void EndCollection() { builder_.EndCollection(); }
  void StartStructure() { builder_.StartStructure(); }
  bool EndStructure() { return builder_.EndStructure(); }
  void Finish() { builder_.Finish(); }

 private:
  BindingTreeBuilder builder_;
};

// Builds the tree top-down through MemberRef, for a document that names a
// member twice: a repeated name addresses the same member, a later scalar
// replaces it, a later object adds to an earlier object and a later array
// appends to an earlier array. `target_` is the value the next scalar or
// container goes into; `open_` the containers not yet closed.
class MergingSink {
 public:
  explicit MergingSink(BindingProperty& root) : target_(&root) { open_.reserve(32); }
  void Empty() { NextValue(); }
  void Bool(bool value) { NextValue()->SetBool(value); }
  void Signed(int64_t value) { NextValue()->SetSigned(value); }
  void Unsigned(uint64_t value) { NextValue()->SetUnsigned(value); }
  void Float(double value) { NextValue()->SetFloat(value); }
  void String(std::string_view text) { NextValue()->SetString(text); }
  void Key(std::string_view name) { target_ = &open_.back()->MemberRef(name); }
  void StartCollection() {
    BindingProperty* value = NextValue();
    value->MakeCollection();
    open_.push_back(value);
  }
  void EndCollection() { open_.pop_back(); }
  void StartStructure() {
    BindingProperty* value = NextValue();
    value->MakeStructure();
    open_.push_back(value);
  }
  bool EndStructure() {
    open_.pop_back();
    return true;
  }
  void Finish() {}

 private:
  // Inside an array every value is a new element; elsewhere it goes to the
  // current target (the root, or the member a key selected).
  BindingProperty* NextValue() {
    if (!open_.empty() && open_.back()->Kind() == BindingPropertyKind::Collection) {
      target_ = &open_.back()->Append();
    }
    return target_;
  }

  BindingProperty* target_;
  std::vector<BindingProperty*> open_;
};

// The reader's handler: checks depth, reads numbers correctly rounded, and
// hands every value to its sink.
template <class Sink>
class JsonTreeHandler {
 public:
  // `end` is where the stream's text ends.
  JsonTreeHandler(BindingProperty& root, const RAPIDJSON_NAMESPACE::InsituStringStream& stream,
                  const char* end)
      : sink_(root), stream_(stream), end_(end) {}

  bool Null() {
    sink_.Empty();
    return true;
  }
  bool Bool(bool value) {
    sink_.Bool(value);
    return true;
  }
  bool Int(int value) {
    sink_.Signed(value);
    return true;
  }
  bool Uint(unsigned value) {
    sink_.Unsigned(value);
    return true;
  }
  bool Int64(int64_t value) {
    sink_.Signed(value);
    return true;
  }
  bool Uint64(uint64_t value) {
    sink_.Unsigned(value);
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
    sink_.Float(CorrectlyRounded(value));
    return true;
  }
  bool RawNumber(const char*, RAPIDJSON_NAMESPACE::SizeType, bool) { return false; }
  bool String(const char* text, RAPIDJSON_NAMESPACE::SizeType length, bool) {
    sink_.String(std::string_view(text, length));
    return true;
  }
  bool StartObject() {
    if (depth_ >= kMaxJsonDepth) return TooDeep();
    ++depth_;
    sink_.StartStructure();
    return true;
  }
  bool Key(const char* name, RAPIDJSON_NAMESPACE::SizeType length, bool) {
    sink_.Key(std::string_view(name, length));
    return true;
  }
  bool EndObject(RAPIDJSON_NAMESPACE::SizeType) {
    --depth_;
    if (sink_.EndStructure()) return true;
    repeatedName_ = true;
    return false;
  }
  bool StartArray() {
    if (depth_ >= kMaxJsonDepth) return TooDeep();
    ++depth_;
    sink_.StartCollection();
    return true;
  }
  bool EndArray(RAPIDJSON_NAMESPACE::SizeType) {
    --depth_;
    sink_.EndCollection();
    return true;
  }

  void Finish() { sink_.Finish(); }
  [[nodiscard]] bool tooDeep() const { return tooDeep_; }
  [[nodiscard]] bool numberTooBig() const { return numberTooBig_; }
  [[nodiscard]] bool repeatedName() const { return repeatedName_; }

 private:
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

  Sink sink_;
  const RAPIDJSON_NAMESPACE::InsituStringStream& stream_;
  const char* end_;
  unsigned depth_ = 0;
  bool tooDeep_ = false;
  bool numberTooBig_ = false;
  bool repeatedName_ = false;
};

void FailWithReport(BindingResult& result, const char* text, size_t offset) {
  char message[160];
  std::snprintf(message, sizeof message, "Error: %s at offset %u.", text,
                static_cast<unsigned>(offset));
  result.Fail(message);
}

// Reads the `length` bytes at `input`, none of them a NUL.
// Sets `repeatedName` (and leaves the result to be discarded) when the sink
// cannot build an object that names a member twice.
template <class Sink>
BindingResult ParseWith(const char* input, size_t length, bool& repeatedName) {
  BindingResult result;
  // The reader unescapes strings in place, in a copy.
  ScratchText text(std::string_view(input, length));
  RAPIDJSON_NAMESPACE::InsituStringStream stream(text.data());
  JsonTreeHandler<Sink> handler(result.value, stream, text.data() + length);
  RAPIDJSON_NAMESPACE::Reader reader;
  const RAPIDJSON_NAMESPACE::ParseResult parsed =
      reader.Parse<RAPIDJSON_NAMESPACE::kParseInsituFlag>(stream, handler);
  if (parsed) {
    handler.Finish();
    return result;
  }

  RAPIDJSON_NAMESPACE::ParseErrorCode code = parsed.Code();
  const size_t offset = parsed.Offset();
  if (code == RAPIDJSON_NAMESPACE::kParseErrorTermination && handler.repeatedName()) {
    repeatedName = true;
    return result;
  }
  // A raw control byte inside a string is an encoding error, whatever the
  // reader's version calls it.
  if (code == RAPIDJSON_NAMESPACE::kParseErrorStringEscapeInvalid && offset < length &&
      static_cast<unsigned char>(input[offset]) < 0x20) {
    code = RAPIDJSON_NAMESPACE::kParseErrorStringInvalidEncoding;
  }
  if (code == RAPIDJSON_NAMESPACE::kParseErrorTermination && handler.numberTooBig()) {
    code = RAPIDJSON_NAMESPACE::kParseErrorNumberTooBig;
  }
  if (code == RAPIDJSON_NAMESPACE::kParseErrorTermination && handler.tooDeep()) {
    FailWithReport(result, kTooDeepText, offset);
  } else {
    FailWithReport(result, RAPIDJSON_NAMESPACE::GetParseError_En(code), offset);
  }
  return result;
}

BindingResult ParseBytes(const char* input, size_t length) {
  bool repeatedName = false;
  BindingResult result = ParseWith<BottomUpSink>(input, length, repeatedName);
  if (!repeatedName) return result;
  // Rare: a name given twice in one object. Read again, merging as it goes.
  // The first read stopped at that object's end, so any error lies after it
  // and the second read reports it at the same offset.
  return ParseWith<MergingSink>(input, length, repeatedName);
}

}  // namespace

BindingResult ParseJson(std::string_view text) {
  return ParseBytes(text.data(), std::min(text.size(), text.find('\0')));
}

BindingResult ParseJson(const std::string& text) {
  return ParseBytes(text.c_str(), std::char_traits<char>::length(text.c_str()));
}

BindingResult ParseJson(const char* text) {
  if (text == nullptr) text = "";
  return ParseBytes(text, std::char_traits<char>::length(text));
}

}  // namespace Tesk
