// Host values and JSON. What the plug-in answers and sends is written as JSON
// for local clients; JSON the host holds (resources, LCDS bodies, event
// payloads) becomes host values that the plug-in reads.
#pragma once

#include <rapidjson/document.h>

#include <string>

#include "host-abi/host_value.h"

namespace Tesk::DevHost {

// Compact JSON of a value of any tag. Empty and unknown tags are null, a float
// that is NaN or infinite is null, a blob is its bytes in base64, a structure
// is an object whose members keep the record's order. Reads only; the value
// stays with its owner.
[[nodiscard]] std::string HostValueToJson(const HostValue& value);

// A host value holding `json`, with owned parts (texts, arrays, member names)
// allocated by the host with malloc; free it with FreeHostValue. Integers
// become signed (unsigned above the signed range), other numbers float.
[[nodiscard]] HostValue JsonToHostValue(const rapidjson::Value& json);

// Frees a value made by JsonToHostValue and leaves it empty.
void FreeHostValue(HostValue& value);

// A value made by JsonToHostValue, freed with its owner.
class OwnedHostValue {
 public:
  explicit OwnedHostValue(const rapidjson::Value& json) : value_(JsonToHostValue(json)) {}
  ~OwnedHostValue() { FreeHostValue(value_); }
  OwnedHostValue(const OwnedHostValue&) = delete;
  OwnedHostValue& operator=(const OwnedHostValue&) = delete;
  [[nodiscard]] const HostValue& Get() const { return value_; }

 private:
  HostValue value_;
};

}  // namespace Tesk::DevHost
