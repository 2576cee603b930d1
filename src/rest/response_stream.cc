#include "rest/response_stream.h"

#include <algorithm>
#include <array>
#include <new>
#include <stdexcept>
#include <string>

#include "codecs/json.h"

namespace Tesk {

namespace {

constexpr const char* kStreamReadError = "Stream read error";
constexpr const char* kNotEnoughMemory = "Not enough memory";

// False when a read fails; `text` then holds what came before it.
bool ReadAll(HostOperations& host, const ResponseRecord& response, std::string& text) {
  if (response.streamRead == nullptr) return false;
  std::array<char, kStreamChunkSize> buffer;
  for (;;) {
    uint32_t size = kStreamChunkSize;
    uint8_t moreData = 0;
    if (response.streamRead(response.stream, buffer.data(), &size, &moreData) == 0) return false;
    // A count beyond the buffer cannot be true; trusting it would read past it.
    if (size > kStreamChunkSize) return false;
    text.append(buffer.data(), size);
    if (moreData == 0) return true;
    if (size < kStreamChunkSize) YieldToHost(host);
  }
}

}  // namespace

BindingResult ReadResponseStream(HostOperations& host, const ResponseRecord& response) {
  std::string text;
  try {
    text.reserve(response.streamSizeHint);
  } catch (const std::exception&) {
    // Only a hint: the text grows as it comes.
  }
  BindingResult result;
  try {
    if (!ReadAll(host, response, text)) {
      result.Fail(kStreamReadError);
      return result;
    }
  } catch (const std::bad_alloc&) {
    result.Fail(kNotEnoughMemory);
    return result;
  } catch (const std::length_error&) {
    result.Fail(kNotEnoughMemory);
    return result;
  }
  return ParseJson(std::string_view(text));
}

void YieldToHost(HostOperations& host) {
  host.WaitStart("Wait: yield", 0);
  host.Yield();
  host.WaitEnd();
}

std::string ReadStreamText(const ResponseRecord& response) {
  std::string text;
  if (response.streamSizeHint < (64u << 20)) text.reserve(response.streamSizeHint);
  char buffer[kStreamChunkSize];
  while (response.streamRead != nullptr) {
    uint32_t size = sizeof buffer;
    uint8_t more = 0;
    if (response.streamRead(response.stream, buffer, &size, &more) == 0) break;
    text.append(buffer, std::min<uint32_t>(size, sizeof buffer));
    if (more == 0) break;
  }
  return text;
}

}  // namespace Tesk
