// JSON reading must never crash, and what it reads must survive a round trip:
// the compact text written from a read value reads back to the same value.
// Numbers are read correctly rounded and written as text that reads back to
// the same double, so a float comes back exactly; an integer may change
// between signed and unsigned with the same value; everything else must be
// identical.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codecs/json.h"

namespace {

using Tesk::BindingProperty;
using Tesk::BindingPropertyKind;

bool IsInteger(const BindingProperty& value) {
  return value.Kind() == BindingPropertyKind::Signed ||
         value.Kind() == BindingPropertyKind::Unsigned;
}

bool SameValue(const BindingProperty& a, const BindingProperty& b) {
  if (a.Kind() == BindingPropertyKind::Float && b.Kind() == BindingPropertyKind::Float) {
    return a.GetFloat() == b.GetFloat();
  }
  // "-0" reads as a signed zero and writes as "0", which reads as unsigned.
  if (IsInteger(a) && IsInteger(b)) return a.ToText() == b.ToText();
  if (a.Kind() != b.Kind() || a.Size() != b.Size()) return false;
  switch (a.Kind()) {
    case BindingPropertyKind::Collection:
      for (uint32_t i = 0; i < a.Size(); ++i) {
        if (!SameValue(a.At(i), b.At(i))) return false;
      }
      return true;
    case BindingPropertyKind::Structure: {
      auto other = b.Members().begin();
      for (const auto member : a.Members()) {
        const auto theirs = *other++;
        if (member.name != theirs.name || !SameValue(member.value, theirs.value)) return false;
      }
      return true;
    }
    default:
      return a == b;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const Tesk::BindingResult first = Tesk::ParseJson(input);
  if (!first.ok) {
    if (first.value.Size() != 1 || first.ErrorText().rfind("Error: ", 0) != 0) std::abort();
    return 0;
  }
  const std::string written = Tesk::WriteJson(first.value);
  if (first.value.IsEmpty()) {
    if (!written.empty()) std::abort();
    return 0;
  }
  const Tesk::BindingResult second = Tesk::ParseJson(written);
  if (!second.ok || !SameValue(first.value, second.value)) std::abort();
  const Tesk::BindingResult indented =
      Tesk::ParseJson(Tesk::WriteJson(first.value, nullptr, "\r\n"));
  if (!indented.ok || !SameValue(first.value, indented.value)) std::abort();
  return 0;
}
