#include "rest/value_decoding.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "codecs/json.h"
#include "codecs/msgpack_reader.h"
#include "codecs/yaml_reader.h"
#include "codecs/yaml_text_scan.h"
#include "diagnostics/format.h"
#include "rest/dispatch_messages.h"

namespace Tesk {
namespace {

std::string_view SkipSpaces(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  return first == std::string_view::npos ? std::string_view{} : text.substr(first);
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// Replaces a codec's failure by the dispatcher's message around it.
DecodedValue Reworded(BindingResult decoded, const char* message, std::string_view label,
                      std::string_view functionName) {
  if (!decoded.ok) {
    const std::string codecMessage = decoded.ErrorText();
    decoded.Fail(Format(message, label, functionName, codecMessage));
  }
  return DecodedValue{std::move(decoded)};
}

DecodedValue Refused(const char* message, std::string_view label, std::string_view functionName) {
  DecodedValue refused{BindingResult{}, kRefusedValueStatus};
  refused.result.Fail(Format(message, label, functionName));
  return refused;
}

std::string_view UpToNul(const char* text, size_t length) {
  if (text == nullptr) return {};
  const void* nul = std::memchr(text, '\0', length);
  return {text,
          nul != nullptr ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length};
}

// Whether a string of `json`, which the reader accepted, holds the escape
// "\u0000" (member names included).
bool HoldsNulEscape(std::string_view json) {
  if (json.find("\\u0000") == std::string_view::npos) return false;
  bool inString = false;
  for (size_t i = 0; i < json.size(); ++i) {
    const char c = json[i];
    if (c == '"') {
      inString = !inString;
    } else if (c == '\\' && inString) {
      ++i;  // the escaped character; "\\u0000" is a backslash and text
      if (i < json.size() && json[i] == 'u' && json.substr(i + 1, 4) == "0000") return true;
    }
  }
  return false;
}

// What a MessagePack value that the reader accepted may still hide.
enum class MessagePackShape { Complete, EndsInsideContainer, NulInString };

enum class ItemRole : uint8_t { Scalar, Bytes, String, Array, Map };

// The header size of an item (its type byte, length field and extension type),
// the width of its big-endian length or count field at offset 1, and its role.
struct ItemHead {
  uint8_t size;
  uint8_t lengthWidth;
  ItemRole role;
};

// Heads 0xC0 to 0xDF; the others are fix formats.
constexpr ItemHead kItemHeads[32] = {
    {1, 0, ItemRole::Scalar},  {1, 0, ItemRole::Scalar}, {1, 0, ItemRole::Scalar},   // c0-c2
    {1, 0, ItemRole::Scalar},  {2, 1, ItemRole::Bytes},  {3, 2, ItemRole::Bytes},    // c3-c5
    {5, 4, ItemRole::Bytes},   {3, 1, ItemRole::Bytes},  {4, 2, ItemRole::Bytes},    // c6-c8
    {6, 4, ItemRole::Bytes},   {5, 0, ItemRole::Scalar}, {9, 0, ItemRole::Scalar},   // c9-cb
    {2, 0, ItemRole::Scalar},  {3, 0, ItemRole::Scalar}, {5, 0, ItemRole::Scalar},   // cc-ce
    {9, 0, ItemRole::Scalar},  {2, 0, ItemRole::Scalar}, {3, 0, ItemRole::Scalar},   // cf-d1
    {5, 0, ItemRole::Scalar},  {9, 0, ItemRole::Scalar}, {3, 0, ItemRole::Scalar},   // d2-d4
    {4, 0, ItemRole::Scalar},  {6, 0, ItemRole::Scalar}, {10, 0, ItemRole::Scalar},  // d5-d7
    {18, 0, ItemRole::Scalar}, {2, 1, ItemRole::String}, {3, 2, ItemRole::String},   // d8-da
    {5, 4, ItemRole::String},  {3, 2, ItemRole::Array},  {5, 4, ItemRole::Array},    // db-dd
    {3, 2, ItemRole::Map},     {5, 4, ItemRole::Map},                                // de-df
};

ItemHead HeadOf(uint8_t type, uint64_t& fixLength) {
  fixLength = 0;
  if (type <= 0x7F || type >= 0xE0) return {1, 0, ItemRole::Scalar};
  if (type >= 0xC0) return kItemHeads[type - 0xC0];
  fixLength = type & (type >= 0xA0 ? 0x1F : 0x0F);
  if (type >= 0xA0) return {1, 0, ItemRole::String};
  return {1, 0, type >= 0x90 ? ItemRole::Array : ItemRole::Map};
}

// Walks the item headers of the value at the start of `bytes` without
// building anything: one pass, no recursion (a count of items still due
// stands for the open containers).
MessagePackShape InspectMessagePack(const uint8_t* bytes, size_t count) {
  if (count == 0) return MessagePackShape::Complete;
  uint64_t due = 1;
  uint64_t position = 0;
  while (due > 0) {
    if (position >= count) return MessagePackShape::EndsInsideContainer;
    --due;
    uint64_t length = 0;
    const ItemHead head = HeadOf(bytes[position], length);
    if (head.size > count - position) return MessagePackShape::EndsInsideContainer;
    for (uint8_t i = 0; i < head.lengthWidth; ++i) length = length << 8 | bytes[position + 1 + i];
    position += head.size;
    switch (head.role) {
      case ItemRole::Scalar:
        break;
      case ItemRole::Array:
        due += length;
        break;
      case ItemRole::Map:
        due += 2 * length;
        break;
      case ItemRole::String:
      case ItemRole::Bytes:
        if (length > count - position) return MessagePackShape::EndsInsideContainer;
        if (head.role == ItemRole::String &&
            std::memchr(bytes + position, '\0', static_cast<size_t>(length)) != nullptr) {
          return MessagePackShape::NulInString;
        }
        position += length;
        break;
    }
  }
  return MessagePackShape::Complete;
}

// MessagePack as the reader reads it (a partial container included), then
// refused when it hides what would reach the handler as another value.
DecodedValue DecodeMessagePack(const uint8_t* bytes, size_t count, std::string_view label,
                               std::string_view functionName, MessagePackReadResult& read) {
  read = ReadMessagePack(bytes, count);
  if (!read.result.ok) return DecodedValue{std::move(read.result)};
  switch (InspectMessagePack(bytes, count)) {
    case MessagePackShape::Complete:
      break;
    case MessagePackShape::EndsInsideContainer:
      return Refused(DispatchMessages::kTruncatedMessagePack, label, functionName);
    case MessagePackShape::NulInString:
      return Refused(DispatchMessages::kNulCharacter, label, functionName);
  }
  return DecodedValue{std::move(read.result)};
}

// A text format's value: what `parse` reads, refused when `holdsNul` finds a
// NUL that one of its strings escapes (stored strings would end there), and
// with its failure reworded by `failureMessage` when not null.
DecodedValue DecodeText(std::string_view text, std::string_view label,
                        std::string_view functionName, const char* failureMessage,
                        BindingResult (*parse)(std::string_view),
                        bool (*holdsNul)(std::string_view)) {
  BindingResult parsed = parse(text);
  if (parsed.ok && holdsNul(text)) {
    return Refused(DispatchMessages::kNulCharacter, label, functionName);
  }
  if (failureMessage == nullptr) return DecodedValue{std::move(parsed)};
  return Reworded(std::move(parsed), failureMessage, label, functionName);
}

DecodedValue DecodeJson(std::string_view text, std::string_view label,
                        std::string_view functionName, const char* failureMessage) {
  return DecodeText(
      text, label, functionName, failureMessage,
      [](std::string_view json) { return ParseJson(json); }, &HoldsNulEscape);
}

// YAML's double-quoted scalars write a NUL through their escapes ("\0",
// "\x00", "\u0000").
DecodedValue DecodeYaml(std::string_view text, std::string_view label,
                        std::string_view functionName, const char* failureMessage) {
  return DecodeText(
      text, label, functionName, failureMessage,
      [](std::string_view yaml) { return ParseYaml(yaml); }, &YamlScalarHoldsNul);
}

}  // namespace

DecodedValue DecodeArgumentValue(std::string_view text, bool structured, std::string_view label,
                                 std::string_view functionName) {
  if (structured) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
    if (LooksLikeMessagePack(bytes, text.size())) {
      MessagePackReadResult read;
      DecodedValue decoded = DecodeMessagePack(bytes, text.size(), label, functionName, read);
      if (decoded.httpStatus != 0) return decoded;
      return Reworded(std::move(decoded.result), DispatchMessages::kMessagePackValue, label,
                      functionName);
    }
    const std::string_view trimmed = SkipSpaces(text);
    if (!trimmed.empty() && (trimmed.front() == '{' || trimmed.front() == '[')) {
      return DecodeJson(text, label, functionName, DispatchMessages::kJsonValue);
    }
    if (trimmed.starts_with("---")) {
      return DecodeYaml(text, label, functionName, DispatchMessages::kYamlValue);
    }
  }
  DecodedValue decoded;
  decoded.result.value.SetString(text);
  return decoded;
}

DecodedValue DecodeBody(const char* contentType, const char* body, size_t length,
                        std::string_view label, std::string_view functionName) {
  const std::string_view type = contentType != nullptr ? contentType : "";
  if (StartsWithNoCase(type, "application/x-msgpack")) {
    MessagePackReadResult read;
    DecodedValue decoded = DecodeMessagePack(reinterpret_cast<const uint8_t*>(body), length, label,
                                             functionName, read);
    if (decoded.result.ok && read.position != length) {
      decoded.result.Fail(DispatchMessages::kExtraMessagePack);
    }
    return decoded;
  }
  if (StartsWithNoCase(type, "application/json") ||
      StartsWithNoCase(type, "application/vnd.api+json")) {
    return DecodeJson(UpToNul(body, length), label, functionName, nullptr);
  }
  if (StartsWithNoCase(type, "application/x-yaml")) {
    return DecodeYaml(UpToNul(body, length), label, functionName, nullptr);
  }
  DecodedValue decoded;
  decoded.result.Fail(DispatchMessages::kUnsupportedBody);
  return decoded;
}

DecodedValue RefuseNulCharacter(std::string_view name, std::string_view functionName) {
  std::string shown;
  for (const char c : name) {
    if (c == '\0') {
      shown += "%00";
    } else {
      shown += c;
    }
  }
  return Refused(DispatchMessages::kNulCharacter, shown, functionName);
}

}  // namespace Tesk
