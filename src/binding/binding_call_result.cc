#include "binding/binding_call_result.h"

namespace Tesk {

BindingCallResult::~BindingCallResult() { ReleaseBodyStream(); }

void BindingCallResult::AttachBodyStream(const BindingBodyStream& stream) {
  ReleaseBodyStream();
  bodyStream_ = stream;
}

void BindingCallResult::ReleaseBodyStream() noexcept {
  const BindingBodyStream stream = bodyStream_;
  bodyStream_ = {};
  if (stream.object != nullptr && stream.release != nullptr) stream.release(stream.object);
}

BindingBodyStream BindingCallResult::TakeBodyStream() {
  const BindingBodyStream stream = bodyStream_;
  bodyStream_ = {};
  return stream;
}

}  // namespace Tesk
