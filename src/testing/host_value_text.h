// Host values on the test host's side: building owned values to hand to the
// plug-in (event payloads, API answers, resources), and printing any value as
// compact JSON-like text for assertions or as JSON.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host-abi/host_value.h"

namespace Tesk::Testing {

// A tree of plain values that can produce HostValue records. Records made by
// ToHostValue are owned by the caller and freed with ReleaseHostValue.
class TestValue {
 public:
  TestValue() = default;  // empty
  static TestValue Bool(bool value);
  static TestValue Signed(int64_t value);
  static TestValue Unsigned(uint64_t value);
  static TestValue Float(double value);
  static TestValue String(std::string text);
  static TestValue Blob(std::string bytes);
  static TestValue Collection(std::vector<TestValue> items);
  static TestValue Structure(std::vector<std::pair<std::string, TestValue>> members);
  // A deep copy of a value of any tag (an unknown tag reads as empty).
  static TestValue FromHostValue(const HostValue& value);
  // The value a JSON text holds: integers signed (unsigned above the signed
  // range), other numbers floats, objects structures. Throws
  // std::invalid_argument with the reader's message for text that is no JSON.
  static TestValue FromJson(std::string_view json);

  // A deep copy as a HostValue with owned texts, arrays and member names.
  [[nodiscard]] HostValue ToHostValue() const;

 private:
  HostValueTag tag_ = HostValueTag::Empty;
  int64_t signed_ = 0;
  uint64_t unsigned_ = 0;
  double float_ = 0;
  std::string text_;
  std::vector<TestValue> items_;
  std::vector<std::pair<std::string, TestValue>> members_;
};

// Frees a HostValue made by TestValue::ToHostValue (or any value whose owned
// parts were allocated with malloc) and resets it to empty.
void ReleaseHostValue(HostValue& value);

// Compact JSON-like text: null, true, 12, -3, 1.5, "text", [..], {"name":..};
// blobs print as blob:<hex>. Members keep their record order.
[[nodiscard]] std::string HostValueText(const HostValue& value);

// Compact JSON, as a host writes the value for its clients: structures with
// their members in byte-wise name order, blobs as Base64, an empty value as
// null.
[[nodiscard]] std::string HostValueJson(const HostValue& value);

}  // namespace Tesk::Testing
