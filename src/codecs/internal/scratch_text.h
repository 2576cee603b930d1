// ScratchText: a writable, NUL-terminated copy of a text, for a reader that
// works in place (it unescapes strings where they stand).
//
// A large block freshly taken from the system costs a page fault per page on
// first touch, which for a document of a few MiB is more than reading it. So
// one released block (up to kMaxKeptBytes) is kept process-wide and handed to
// the next copy that fits; the exchange is lock-free, so copies on several
// threads never wait for each other (a thread that finds no block allocates
// one). The kept block is freed when the library unloads.
#pragma once

#include <cstddef>
#include <string_view>

namespace Tesk {

class ScratchText {
 public:
  static constexpr size_t kMaxKeptBytes = size_t{4} << 20;

  // Throws std::bad_alloc.
  explicit ScratchText(std::string_view text);
  ~ScratchText();
  ScratchText(const ScratchText&) = delete;
  ScratchText& operator=(const ScratchText&) = delete;

  // The copy, followed by a NUL.
  [[nodiscard]] char* data() { return text_; }

 private:
  void* block_;
  char* text_;
};

}  // namespace Tesk
