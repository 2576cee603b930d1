// The shared vocabulary of asynchronous functions and caller-supplied
// callbacks: the states of an operation and the payloads of the events that
// report on operations and callback invocations. Registered as builtin types
// of every registry; nothing in the SDK raises these events itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "binding/binding_property.h"

namespace Tesk {

enum class BindingAsyncState : int32_t {
  None = 0,  // the invalid state
  Running = 1,
  Cancelling = 2,
  Cancelled = 3,
  Succeeded = 4,
  Failed = 5,
};

// Any data of an event.
struct BindingGenericEvent {
  BindingProperty data{};
};

// One invocation of a callback: the payload of the event "OnCallback". The
// call's arguments are in `parameters`, in order.
struct BindingCallbackEvent {
  uint32_t id = 0;
  std::vector<BindingProperty> parameters{};
};

// Any other data of an asynchronous operation.
struct BindingGenericAsyncEvent {
  uint32_t asyncToken = 0;
  BindingProperty data{};
};

struct BindingAsyncFailureEvent {
  uint32_t asyncToken = 0;
  std::string error{};
};

struct BindingAsyncCancelEvent {
  uint32_t asyncToken = 0;
};

}  // namespace Tesk
