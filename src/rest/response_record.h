// Filling the host's response record for an incoming request, and the
// plug-in's release function for it. Everything the record points to is
// allocated with the SDK allocator and freed by ReleaseResponseRecord.
#pragma once

#include <cstdint>
#include <string_view>

#include "binding/binding_call_result.h"
#include "host-abi/host_requests.h"

namespace Tesk {

class BindingRegistry;

// Releases what a previous filling left in `response` (through its own
// release function), zeroes it and sets ReleaseResponseRecord.
void ResetResponseRecord(ResponseRecord* response);

// Fills `response` from a finished call: the error text of a failed call or
// the value of a successful one (enumerations named by `registry`), then the
// response fields, the headers and the body stream (which moves out of
// `call`). A value that cannot be made fails the response with status 400.
void FillResponseRecord(ResponseRecord* response, BindingCallResult& call,
                        const BindingRegistry* registry);

// Marks `response` failed with `message` and `httpStatus`.
void SetResponseError(ResponseRecord* response, std::string_view message, uint32_t httpStatus);

// Frees the record's value, error text, text field and headers, then zeroes it.
void KTX_HOST_CALL ReleaseResponseRecord(ResponseRecord* response);

}  // namespace Tesk
