#include "session/host_value_json.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>

#include "encoding/base64.h"
#include "encoding/json_support.h"
#include "host-abi/malloc_host_value.h"

namespace Tesk::DevHost {
namespace {

void WriteValue(JsonWriter& writer, const HostValue& value) {
  switch (static_cast<HostValueTag>(value.tag)) {
    case HostValueTag::Bool:
      writer.Bool(value.boolean != 0);
      return;
    case HostValueTag::Signed:
      writer.Int64(value.signedValue);
      return;
    case HostValueTag::Unsigned:
      writer.Uint64(value.unsignedValue);
      return;
    case HostValueTag::Float:
      if (std::isfinite(value.floatValue)) {
        writer.Double(value.floatValue);
      } else {
        writer.Null();
      }
      return;
    case HostValueTag::String:
    case HostValueTag::OwnedString:
      if (value.string.text == nullptr) {
        writer.String("");
      } else {
        // Texts end at their first NUL, as the plug-in reads them.
        writer.String(value.string.text);
      }
      return;
    case HostValueTag::Blob:
    case HostValueTag::OwnedBlob: {
      const std::string text =
          value.blob.bytes != nullptr
              ? Base64Encode(std::string_view(reinterpret_cast<const char*>(value.blob.bytes),
                                              value.blob.length))
              : "";
      writer.String(text.data(), static_cast<rapidjson::SizeType>(text.size()));
      return;
    }
    case HostValueTag::Collection:
      writer.StartArray();
      for (uint32_t i = 0; value.collection.items != nullptr && i < value.collection.count; ++i) {
        WriteValue(writer, value.collection.items[i]);
      }
      writer.EndArray();
      return;
    case HostValueTag::Structure:
      writer.StartObject();
      for (uint32_t i = 0; value.structure.members != nullptr && i < value.structure.count; ++i) {
        const HostValueMember& member = value.structure.members[i];
        writer.Key(member.name != nullptr ? member.name : "");
        WriteValue(writer, member.value);
      }
      writer.EndObject();
      return;
    case HostValueTag::Empty:
      break;
  }
  writer.Null();
}

void* AllocateOrThrow(size_t count, size_t size) {
  void* block = std::calloc(count == 0 ? 1 : count, size);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

char* CopyText(const char* text, size_t length) {
  auto* copy = static_cast<char*>(AllocateOrThrow(length + 1, 1));
  std::memcpy(copy, text, length);
  return copy;
}

void FillValue(HostValue& out, const rapidjson::Value& json) {
  out = HostValue{};
  switch (json.GetType()) {
    case rapidjson::kNullType:
      return;
    case rapidjson::kFalseType:
    case rapidjson::kTrueType:
      out.tag = static_cast<uint32_t>(HostValueTag::Bool);
      out.boolean = json.GetBool() ? 1 : 0;
      return;
    case rapidjson::kNumberType:
      if (json.IsInt64()) {
        out.tag = static_cast<uint32_t>(HostValueTag::Signed);
        out.signedValue = json.GetInt64();
      } else if (json.IsUint64()) {
        out.tag = static_cast<uint32_t>(HostValueTag::Unsigned);
        out.unsignedValue = json.GetUint64();
      } else {
        out.tag = static_cast<uint32_t>(HostValueTag::Float);
        out.floatValue = json.GetDouble();
      }
      return;
    case rapidjson::kStringType:
      out.tag = static_cast<uint32_t>(HostValueTag::OwnedString);
      out.string.text = CopyText(json.GetString(), json.GetStringLength());
      out.string.length = json.GetStringLength();
      return;
    case rapidjson::kArrayType: {
      const uint32_t count = json.Size();
      out.tag = static_cast<uint32_t>(HostValueTag::Collection);
      out.collection.items = static_cast<HostValue*>(AllocateOrThrow(count, sizeof(HostValue)));
      for (uint32_t i = 0; i < count; ++i) {
        FillValue(out.collection.items[i], json[i]);
        out.collection.count = i + 1;  // counted as filled, for a failure part-way
      }
      return;
    }
    case rapidjson::kObjectType: {
      const uint32_t count = json.MemberCount();
      out.tag = static_cast<uint32_t>(HostValueTag::Structure);
      out.structure.members =
          static_cast<HostValueMember*>(AllocateOrThrow(count, sizeof(HostValueMember)));
      uint32_t i = 0;
      for (const auto& member : json.GetObject()) {
        HostValueMember& slot = out.structure.members[i];
        slot.name = CopyText(member.name.GetString(), member.name.GetStringLength());
        slot.nameOwned = 1;
        out.structure.count = ++i;
        FillValue(slot.value, member.value);
      }
      return;
    }
  }
}

}  // namespace

std::string HostValueToJson(const HostValue& value) {
  rapidjson::StringBuffer buffer;
  JsonWriter writer(buffer);
  WriteValue(writer, value);
  return std::string(buffer.GetString(), buffer.GetSize());
}

HostValue JsonToHostValue(const rapidjson::Value& json) {
  HostValue value{};
  try {
    FillValue(value, json);
  } catch (...) {
    FreeHostValue(value);
    throw;
  }
  return value;
}

void FreeHostValue(HostValue& value) { FreeMallocHostValue(value); }

}  // namespace Tesk::DevHost
