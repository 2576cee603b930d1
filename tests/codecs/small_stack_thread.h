// Runs code on a thread with a small stack, as a host thread may have, so that
// tests show a reader's cost in stack does not grow with its input.
#pragma once

#include <cstddef>
#include <functional>

namespace Tesk::Testing {

// The stack a host thread may have.
inline constexpr size_t kHostThreadStack = size_t{1} << 20;

// Runs `work` on a new thread whose stack is `stackBytes` and waits for it.
// False when the thread could not be started (then `work` did not run).
[[nodiscard]] bool RunOnSmallStack(size_t stackBytes, const std::function<void()>& work);

}  // namespace Tesk::Testing
