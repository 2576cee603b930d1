// Request bodies in MessagePack and YAML through the dispatcher, as a host
// delivers them, to a handler that takes the body as a dynamic value: no
// crash, the response contract, and answers that agree with the readers. A
// MessagePack body is answered only when the reader takes all of it, and is
// refused (400) only where the reader accepts it; a YAML body is answered
// exactly when the reader accepts its text up to the first NUL and no scalar
// of it escapes a NUL (that one is refused with 400). Input: the
// first byte's low bit picks the format (0 MessagePack, 1 YAML), the rest is
// the body.
#include <cstdint>
#include <cstring>
#include <string_view>

#include "codecs/msgpack_reader.h"
#include "codecs/yaml_reader.h"
#include "codecs/yaml_text_scan.h"
#include "dispatch_harness.h"
#include "rest/route_declaration.h"
#include "rest/value_decoding.h"

namespace {

using namespace Tesk;

constexpr char kTarget[] = "request_body_fuzz";

BindingFunctionInfo* DeclareEchoRoute(BindingRegistry& registry) {
  return DeclareRoute(registry, HttpMethod::Post, "/body/{id}",
                      [](const BindingProperty& payload) { return payload; })
      .BodyArgument<BindingProperty>("payload")
      .Argument<std::string>("id", BindingArgumentLocation::Path)
      .Function();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static KtxFuzz::PublishedFunction fixture(&DeclareEchoRoute);
  if (size == 0) return 0;
  const bool yaml = (data[0] & 1) != 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 1, size - 1);
  const KtxFuzz::DispatchAnswer answer =
      KtxFuzz::Dispatch(kTarget, fixture.context, 6, "/body/x", {},
                        yaml ? "application/x-yaml" : "application/x-msgpack", body);
  if (yaml) {
    const std::string_view text = body.substr(0, body.find('\0'));
    const bool read = ParseYaml(text).ok;
    const bool refused = read && YamlScalarHoldsNul(text);
    KtxFuzz::Require(!answer.failed == (read && !refused), kTarget,
                     "a YAML body was answered otherwise than its reader read it");
    KtxFuzz::Require(!refused || answer.status == kRefusedValueStatus, kTarget,
                     "a YAML body whose scalar escapes a NUL was not refused with 400");
    return 0;
  }
  if (answer.failed && answer.status != kRefusedValueStatus) return 0;
  const MessagePackReadResult read = ReadMessagePack(body);
  KtxFuzz::Require(read.result.ok, kTarget, "MessagePack the reader refuses was taken");
  KtxFuzz::Require(answer.failed || read.position == body.size(), kTarget,
                   "a MessagePack body with bytes after its value was answered");
  return 0;
}
