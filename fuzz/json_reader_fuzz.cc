// JSON reading must never crash, and what it reads must survive a round trip:
// the compact text written from a read value reads back to a value that writes
// the same text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "codecs/json.h"

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
  if (!second.ok || Tesk::WriteJson(second.value) != written) std::abort();
  (void)Tesk::WriteJson(first.value, nullptr, "\r\n");
  return 0;
}
