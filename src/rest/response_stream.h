// Reading the JSON text of a streamed API response (a response record whose
// stream read function is set).
#pragma once

#include <cstdint>
#include <string>

#include "binding/binding_property.h"
#include "host-abi/host_operations.h"
#include "host-abi/host_requests.h"

namespace Tesk {

// Every read asks for exactly this many bytes.
inline constexpr uint32_t kStreamChunkSize = 4096;

// Reads the stream of `response` to its end and parses the text as JSON.
// The text reserves the response's size hint at once (a hint that cannot be
// reserved is ignored). A short read with more data to come yields to the host
// (YieldToHost) before the next read; a full read is followed by another
// while more data is announced. Fails with "Stream read error" when a read
// reports failure or claims more bytes than asked for (or there is no read
// function), with "Not enough memory" when the text cannot grow, and with
// ParseJson's message when the text is not one JSON document (an empty
// stream included). Does not release the stream.
[[nodiscard]] BindingResult ReadResponseStream(HostOperations& host,
                                               const ResponseRecord& response);

// The host's yield between two reads: wait start "Wait: yield" with flag 0,
// yield, wait end.
void YieldToHost(HostOperations& host);

// On a host's side: the text of the stream of a plug-in's response, read to
// its end (or to the first failed read) without yielding; a size hint under
// 64 MiB is reserved at once. Does not release the stream.
[[nodiscard]] std::string ReadStreamText(const ResponseRecord& response);

}  // namespace Tesk
