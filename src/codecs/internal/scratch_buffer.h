// ScratchBuffer: working memory of a reader or writer for the length of one
// call: a writable copy of a text for a reader that works in place (it
// unescapes strings where they stand), or the room a writer lays its text out
// in before handing it over.
//
// A large block freshly taken from the system costs a page fault per page on
// first touch, which for a document of a few MiB is more than reading or
// writing it. So one released block (a larger one cut down to kMaxKeptBytes)
// is kept process-wide and handed to the next buffer; the exchange is lock-free, so
// buffers on several threads never wait for each other (a thread that finds
// no block kept allocates one). The kept block is freed when the library
// unloads.
#pragma once

#include <cstddef>
#include <string_view>

namespace Tesk {

class ScratchBuffer {
 public:
  static constexpr size_t kMaxKeptBytes = size_t{4} << 20;

  // Empty, with the kept block's room if there is one.
  ScratchBuffer();
  ~ScratchBuffer();
  ScratchBuffer(const ScratchBuffer&) = delete;
  ScratchBuffer& operator=(const ScratchBuffer&) = delete;

  // Room for at least `bytes` bytes from data(); what data() held is kept.
  // Throws std::bad_alloc.
  void Reserve(size_t bytes);
  [[nodiscard]] char* data() const { return data_; }
  [[nodiscard]] size_t capacity() const { return capacity_; }

 private:
  void* block_ = nullptr;
  char* data_ = nullptr;
  size_t capacity_ = 0;
};

// A writable copy of `text` followed by a NUL and then `padding` more zero
// bytes (room for a reader that scans blocks of bytes past the text's end),
// in a scratch buffer.
class ScratchText {
 public:
  explicit ScratchText(std::string_view text, size_t padding = 0);
  [[nodiscard]] char* data() { return buffer_.data(); }

 private:
  ScratchBuffer buffer_;
};

}  // namespace Tesk
