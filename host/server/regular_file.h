// Reading the files the host serves (the demo page, Swagger UI) without
// being led elsewhere: only a regular file directly in its folder, opened
// without following a symbolic link and without waiting on a FIFO or device.
#pragma once

#include <optional>
#include <string>

namespace Tesk::DevHost {

// The largest file served; the largest the host ships is about 1.5 MB.
inline constexpr size_t kMaxServedFileBytes = 32u << 20;

// The content of `name` (a plain name, no "/") in `folder`, or nothing when
// it is missing, not a regular file, a symbolic link, unreadable or larger
// than kMaxServedFileBytes.
[[nodiscard]] std::optional<std::string> ReadRegularFile(const std::string& folder,
                                                         const std::string& name);

}  // namespace Tesk::DevHost
