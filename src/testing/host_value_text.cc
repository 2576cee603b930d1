#include "testing/host_value_text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "binding/host_value_conversion.h"
#include "codecs/json.h"
#include "host-abi/malloc_host_value.h"

namespace Tesk::Testing {
namespace {

char* CopyBytes(const std::string& bytes) {
  char* copy = static_cast<char*>(std::malloc(bytes.size() + 1));
  std::memcpy(copy, bytes.data(), bytes.size());
  copy[bytes.size()] = '\0';
  return copy;
}

void AppendQuoted(std::string& out, const char* text) {
  out += '"';
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c == '"' || *c == '\\') out += '\\';
    out += *c;
  }
  out += '"';
}

}  // namespace

TestValue TestValue::Bool(bool value) {
  TestValue v;
  v.tag_ = HostValueTag::Bool;
  v.signed_ = value ? 1 : 0;
  return v;
}

TestValue TestValue::Signed(int64_t value) {
  TestValue v;
  v.tag_ = HostValueTag::Signed;
  v.signed_ = value;
  return v;
}

TestValue TestValue::Unsigned(uint64_t value) {
  TestValue v;
  v.tag_ = HostValueTag::Unsigned;
  v.unsigned_ = value;
  return v;
}

TestValue TestValue::Float(double value) {
  TestValue v;
  v.tag_ = HostValueTag::Float;
  v.float_ = value;
  return v;
}

TestValue TestValue::String(std::string text) {
  TestValue v;
  v.tag_ = HostValueTag::OwnedString;
  v.text_ = std::move(text);
  return v;
}

TestValue TestValue::Blob(std::string bytes) {
  TestValue v;
  v.tag_ = HostValueTag::OwnedBlob;
  v.text_ = std::move(bytes);
  return v;
}

TestValue TestValue::Collection(std::vector<TestValue> items) {
  TestValue v;
  v.tag_ = HostValueTag::Collection;
  v.items_ = std::move(items);
  return v;
}

TestValue TestValue::Structure(std::vector<std::pair<std::string, TestValue>> members) {
  TestValue v;
  v.tag_ = HostValueTag::Structure;
  v.members_ = std::move(members);
  return v;
}

TestValue TestValue::FromHostValue(const HostValue& value) {
  switch (static_cast<HostValueTag>(value.tag)) {
    case HostValueTag::Bool:
      return Bool(value.boolean != 0);
    case HostValueTag::Signed:
      return Signed(value.signedValue);
    case HostValueTag::Unsigned:
      return Unsigned(value.unsignedValue);
    case HostValueTag::Float:
      return Float(value.floatValue);
    case HostValueTag::String:
    case HostValueTag::OwnedString:
      return String(value.string.text != nullptr
                        ? std::string(value.string.text, value.string.length)
                        : std::string());
    case HostValueTag::Blob:
    case HostValueTag::OwnedBlob:
      return Blob(
          value.blob.bytes != nullptr
              ? std::string(reinterpret_cast<const char*>(value.blob.bytes), value.blob.length)
              : std::string());
    case HostValueTag::Collection: {
      std::vector<TestValue> items;
      for (uint32_t i = 0; value.collection.items != nullptr && i < value.collection.count; ++i) {
        items.push_back(FromHostValue(value.collection.items[i]));
      }
      return Collection(std::move(items));
    }
    case HostValueTag::Structure: {
      std::vector<std::pair<std::string, TestValue>> members;
      for (uint32_t i = 0; value.structure.members != nullptr && i < value.structure.count; ++i) {
        const HostValueMember& member = value.structure.members[i];
        members.emplace_back(member.name != nullptr ? member.name : "",
                             FromHostValue(member.value));
      }
      return Structure(std::move(members));
    }
    case HostValueTag::Empty:
      break;
  }
  return TestValue();
}

TestValue TestValue::FromJson(std::string_view json) {
  const BindingResult read = ParseJson(json);
  if (!read.ok) throw std::invalid_argument(read.ErrorText());
  HostValue value = Tesk::ToHostValue(read.value, nullptr);
  TestValue copy = FromHostValue(value);
  Tesk::ReleaseHostValue(value);
  return copy;
}

HostValue TestValue::ToHostValue() const {
  HostValue value{};
  value.tag = static_cast<uint32_t>(tag_);
  switch (tag_) {
    case HostValueTag::Empty:
      break;
    case HostValueTag::Bool:
      value.boolean = signed_ != 0 ? 1 : 0;
      break;
    case HostValueTag::Signed:
      value.signedValue = signed_;
      break;
    case HostValueTag::Unsigned:
      value.unsignedValue = unsigned_;
      break;
    case HostValueTag::Float:
      value.floatValue = float_;
      break;
    case HostValueTag::String:
    case HostValueTag::OwnedString:
      value.tag = static_cast<uint32_t>(HostValueTag::OwnedString);
      value.string.text = CopyBytes(text_);
      value.string.length = static_cast<uint32_t>(text_.size());
      break;
    case HostValueTag::Blob:
    case HostValueTag::OwnedBlob:
      value.tag = static_cast<uint32_t>(HostValueTag::OwnedBlob);
      value.blob.bytes = reinterpret_cast<const uint8_t*>(CopyBytes(text_));
      value.blob.length = static_cast<uint32_t>(text_.size());
      break;
    case HostValueTag::Collection: {
      auto* items = static_cast<HostValue*>(std::calloc(items_.size() + 1, sizeof(HostValue)));
      for (size_t i = 0; i < items_.size(); ++i) items[i] = items_[i].ToHostValue();
      value.collection.items = items;
      value.collection.count = static_cast<uint32_t>(items_.size());
      break;
    }
    case HostValueTag::Structure: {
      auto* members =
          static_cast<HostValueMember*>(std::calloc(members_.size() + 1, sizeof(HostValueMember)));
      for (size_t i = 0; i < members_.size(); ++i) {
        members[i].name = CopyBytes(members_[i].first);
        members[i].value = members_[i].second.ToHostValue();
        members[i].nameOwned = 1;
      }
      value.structure.members = members;
      value.structure.count = static_cast<uint32_t>(members_.size());
      break;
    }
  }
  return value;
}

void ReleaseHostValue(HostValue& value) { FreeMallocHostValue(value); }

std::string HostValueText(const HostValue& value) {
  std::string out;
  char number[64];
  switch (value.tag) {
    case 1:
      return value.boolean != 0 ? "true" : "false";
    case 2:
      std::snprintf(number, sizeof number, "%lld", static_cast<long long>(value.signedValue));
      return number;
    case 3:
      std::snprintf(number, sizeof number, "%llu",
                    static_cast<unsigned long long>(value.unsignedValue));
      return number;
    case 4:
      std::snprintf(number, sizeof number, "%.17g", value.floatValue);
      return number;
    case 5:
    case 6:
      AppendQuoted(out, value.string.text != nullptr ? value.string.text : "");
      return out;
    case 7:
    case 8:
      out = "blob:";
      for (uint32_t i = 0; i < value.blob.length; ++i) {
        std::snprintf(number, sizeof number, "%02x", value.blob.bytes[i]);
        out += number;
      }
      return out;
    case 9:
      out = "[";
      for (uint32_t i = 0; i < value.collection.count; ++i) {
        if (i > 0) out += ',';
        out += HostValueText(value.collection.items[i]);
      }
      return out + "]";
    case 10:
      out = "{";
      for (uint32_t i = 0; i < value.structure.count; ++i) {
        if (i > 0) out += ',';
        AppendQuoted(out, value.structure.members[i].name);
        out += ':';
        out += HostValueText(value.structure.members[i].value);
      }
      return out + "}";
    default:
      return "null";
  }
}

std::string HostValueJson(const HostValue& value) {
  if (value.tag == static_cast<uint32_t>(HostValueTag::Empty)) return "null";
  const HostValueConversion read = Tesk::FromHostValue(value, "<value>", nullptr);
  return read.ok ? WriteJson(read.value) : "null";
}

}  // namespace Tesk::Testing
