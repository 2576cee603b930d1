// JsonTokenizer: reads one JSON document from a writable, NUL-terminated text
// and hands its values to a sink in document order. It works in place:
// strings are unescaped where they stand, so a string or key the sink gets
// points into the text (valid until the text goes). Numbers are read in one
// pass (json_number.h).
//
// The text must be followed, after its NUL, by kJsonTokenizerPadding
// readable bytes: strings are scanned a block of 16 bytes at a time, and a
// block starting before the NUL may reach past it.
//
// Nesting is tracked in a fixed array, not by recursion, so a document as
// deep as kMaxJsonDepth costs no stack. Errors name the byte they were found
// at; a string's escape errors name its backslash, a number too big its
// first byte, a nesting too deep the byte after the bracket that went too
// deep.
//
// The sink provides Empty, Bool, Signed, Unsigned, Float, String, Key,
// StartCollection, EndCollection, StartStructure and EndStructure (false to
// stop the read, reported as JsonSyntaxError::Stopped).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "codecs/internal/json_number.h"
#include "codecs/internal/json_syntax_error.h"

namespace Tesk {

inline constexpr size_t kJsonTokenizerPadding = 16;

struct JsonReadOutcome {
  JsonSyntaxError error = JsonSyntaxError::None;
  size_t offset = 0;  // of the byte the error was found at
};

namespace JsonTokens {

// What a byte after a backslash stands for; 0 where it is not a short escape.
struct ShortEscapes {
  char byByte[128] = {};
  constexpr ShortEscapes() {
    constexpr char kPairs[] = "\"\"\\\\//b\bf\fn\nr\rt\t";
    for (size_t i = 0; i + 1 < sizeof kPairs; i += 2) {
      byByte[static_cast<unsigned char>(kPairs[i])] = kPairs[i + 1];
    }
  }
};
inline constexpr ShortEscapes kShortEscapes;

inline bool IsSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

inline char* SkipSpace(char* p) {
  while (IsSpace(*p)) ++p;
  return p;
}

// The first byte at or after `p` that is a quote, a backslash or below 0x20
// (which includes the text's NUL).
inline char* ScanPlain(char* p) {
#if defined(__SSE2__)
  const __m128i quote = _mm_set1_epi8('"');
  const __m128i backslash = _mm_set1_epi8('\\');
  const __m128i controlTop = _mm_set1_epi8(0x1F);
  for (;; p += 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i special =
        _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)),
                     _mm_cmpeq_epi8(_mm_max_epu8(block, controlTop), controlTop));
    const int mask = _mm_movemask_epi8(special);
    if (mask != 0) return p + __builtin_ctz(static_cast<unsigned>(mask));
  }
#else
  while (*p != '"' && *p != '\\' && static_cast<unsigned char>(*p) >= 0x20) ++p;
  return p;
#endif
}

// Four hex digits at `p` into `value`; false at the first that is not one
// (the text's NUL included, so nothing past it is read).
inline bool ReadHex4(const char* p, unsigned& value) {
  value = 0;
  for (int i = 0; i < 4; ++i) {
    const char c = p[i];
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<unsigned>(c - 'A' + 10);
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      return false;
    }
    value = value << 4 | digit;
  }
  return true;
}

// Writes `code` (at most 0x10FFFF) as UTF-8 at `out`; returns the end.
inline char* PutUtf8(char* out, unsigned code) {
  if (code < 0x80) {
    *out++ = static_cast<char>(code);
  } else if (code < 0x800) {
    *out++ = static_cast<char>(0xC0 | code >> 6);
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else if (code < 0x10000) {
    *out++ = static_cast<char>(0xE0 | code >> 12);
    *out++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | code >> 18);
    *out++ = static_cast<char>(0x80 | (code >> 12 & 0x3F));
    *out++ = static_cast<char>(0x80 | (code >> 6 & 0x3F));
    *out++ = static_cast<char>(0x80 | (code & 0x3F));
  }
  return out;
}

// Reads the string whose opening quote `p` has just passed, unescaping it in
// place, and leaves `p` past its closing quote; on an error, at the byte to
// report. Bytes of 0x80 and above are taken as they stand. A high surrogate
// escape must be followed by a low one, and a low one must follow a high one:
// a lone surrogate has no UTF-8 form.
inline JsonSyntaxError ReadString(char*& p, std::string_view& text) {
  char* const begin = p;
  char* read = ScanPlain(p);
  if (*read == '"') {  // the usual case: nothing to unescape
    text = std::string_view(begin, static_cast<size_t>(read - begin));
    p = read + 1;
    return JsonSyntaxError::None;
  }
  char* write = read;
  for (;;) {
    const char c = *read;
    if (c == '"') {
      text = std::string_view(begin, static_cast<size_t>(write - begin));
      p = read + 1;
      return JsonSyntaxError::None;
    }
    if (c == '\\') {
      const unsigned char escaped = static_cast<unsigned char>(read[1]);
      if (escaped < 128 && kShortEscapes.byByte[escaped] != 0) {
        *write++ = kShortEscapes.byByte[escaped];
        read += 2;
        continue;
      }
      p = read;  // escape errors name the backslash
      if (escaped != 'u') return JsonSyntaxError::EscapeInvalid;
      unsigned code;
      if (!ReadHex4(read + 2, code)) return JsonSyntaxError::UnicodeEscapeInvalidHex;
      read += 6;
      if (code >= 0xD800 && code <= 0xDBFF) {
        if (read[0] != '\\' || read[1] != 'u') return JsonSyntaxError::UnicodeSurrogateInvalid;
        unsigned low;
        if (!ReadHex4(read + 2, low)) return JsonSyntaxError::UnicodeEscapeInvalidHex;
        if (low < 0xDC00 || low > 0xDFFF) return JsonSyntaxError::UnicodeSurrogateInvalid;
        code = ((code - 0xD800) << 10 | (low - 0xDC00)) + 0x10000;
        read += 6;
      } else if (code >= 0xDC00 && code <= 0xDFFF) {
        return JsonSyntaxError::UnicodeSurrogateInvalid;
      }
      write = PutUtf8(write, code);
      continue;
    }
    if (static_cast<unsigned char>(c) < 0x20) {
      p = read;
      return c == '\0' ? JsonSyntaxError::MissQuotationMark : JsonSyntaxError::InvalidEncoding;
    }
    char* const next = ScanPlain(read + 1);
    std::memmove(write, read, static_cast<size_t>(next - read));
    write += next - read;
    read = next;
  }
}

// Matches the rest of a literal whose first byte was checked; on a mismatch
// leaves `p` at the first byte that differs.
inline bool MatchLiteral(char*& p, const char* rest) {
  char* s = p + 1;
  for (; *rest != '\0'; ++rest, ++s) {
    if (*s != *rest) {
      p = s;
      return false;
    }
  }
  p = s;
  return true;
}

}  // namespace JsonTokens

template <class Sink, unsigned MaxDepth>
class JsonTokenizer {
 public:
  JsonTokenizer(char* text, Sink& sink) : text_(text), sink_(sink) {}

  JsonReadOutcome Read() {
    using namespace JsonTokens;
    char* p = SkipSpace(text_);
    if (*p == '\0') return Fail(JsonSyntaxError::DocumentEmpty, p);
    unsigned depth = 0;
    bool inStructure[MaxDepth > 0 ? MaxDepth : 1];
    JsonSyntaxError error;

  value:
    switch (*p) {
      case '{':
        ++p;
        if (depth >= MaxDepth) return Fail(JsonSyntaxError::TooDeep, p);
        inStructure[depth++] = true;
        sink_.StartStructure();
        p = SkipSpace(p);
        if (*p == '}') {
          ++p;
          --depth;
          if (!sink_.EndStructure()) return Fail(JsonSyntaxError::Stopped, p);
          goto after_value;
        }
        goto member;
      case '[':
        ++p;
        if (depth >= MaxDepth) return Fail(JsonSyntaxError::TooDeep, p);
        inStructure[depth++] = false;
        sink_.StartCollection();
        p = SkipSpace(p);
        if (*p == ']') {
          ++p;
          --depth;
          sink_.EndCollection();
          goto after_value;
        }
        goto value;
      case '"': {
        ++p;
        std::string_view text;
        error = ReadString(p, text);
        if (error != JsonSyntaxError::None) return Fail(error, p);
        sink_.String(text);
        goto after_value;
      }
      case 'n':
        if (!MatchLiteral(p, "ull")) return Fail(JsonSyntaxError::ValueInvalid, p);
        sink_.Empty();
        goto after_value;
      case 't':
        if (!MatchLiteral(p, "rue")) return Fail(JsonSyntaxError::ValueInvalid, p);
        sink_.Bool(true);
        goto after_value;
      case 'f':
        if (!MatchLiteral(p, "alse")) return Fail(JsonSyntaxError::ValueInvalid, p);
        sink_.Bool(false);
        goto after_value;
      default: {
        const char* s = p;
        JsonNumbers::Number number;
        error = JsonNumbers::Read(s, number);
        p += s - p;
        if (error != JsonSyntaxError::None) return Fail(error, p);
        if (number.kind == JsonNumbers::Kind::Unsigned) {
          sink_.Unsigned(number.unsignedValue);
        } else if (number.kind == JsonNumbers::Kind::Signed) {
          sink_.Signed(number.signedValue);
        } else {
          sink_.Float(number.floatValue);
        }
        goto after_value;
      }
    }

  after_value:
    p = SkipSpace(p);
    if (depth == 0) {
      if (*p != '\0') return Fail(JsonSyntaxError::RootNotSingular, p);
      return {};
    }
    if (inStructure[depth - 1]) {
      if (*p == ',') {
        p = SkipSpace(p + 1);
        goto member;
      }
      if (*p != '}') return Fail(JsonSyntaxError::ObjectMissCommaOrCurlyBracket, p);
      ++p;
      --depth;
      if (!sink_.EndStructure()) return Fail(JsonSyntaxError::Stopped, p);
      goto after_value;
    }
    if (*p == ',') {
      p = SkipSpace(p + 1);
      goto value;
    }
    if (*p != ']') return Fail(JsonSyntaxError::ArrayMissCommaOrSquareBracket, p);
    ++p;
    --depth;
    sink_.EndCollection();
    goto after_value;

  member:
    if (*p != '"') return Fail(JsonSyntaxError::ObjectMissName, p);
    {
      ++p;
      std::string_view name;
      error = ReadString(p, name);
      if (error != JsonSyntaxError::None) return Fail(error, p);
      sink_.Key(name);
    }
    p = SkipSpace(p);
    if (*p != ':') return Fail(JsonSyntaxError::ObjectMissColon, p);
    p = SkipSpace(p + 1);
    goto value;
  }

 private:
  JsonReadOutcome Fail(JsonSyntaxError error, const char* at) const {
    return {error, static_cast<size_t>(at - text_)};
  }

  char* text_;
  Sink& sink_;
};

}  // namespace Tesk
