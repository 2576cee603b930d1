// OutgoingQueue: what one event-stream client has yet to be sent, bounded in
// bytes. Frames are shared: an event's text is built once and every client
// queues the same block, so a slow client costs its bound at most, not a
// copy of everything it has not read.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>

namespace Tesk::DevHost {

using SharedText = std::shared_ptr<const std::string>;

class OutgoingQueue {
 public:
  explicit OutgoingQueue(size_t byteLimit) : limit_(byteLimit) {}

  // Queues `frame`; false (nothing queued) when the bytes queued would pass
  // the limit. A frame into an empty queue is always taken, however large,
  // so that no event is too large for every client.
  bool Push(SharedText frame, bool reply = false) {
    if (!queue_.empty() && bytes_ + frame->size() > limit_) return false;
    bytes_ += frame->size();
    queue_.push_back({std::move(frame), reply});
    return true;
  }
  [[nodiscard]] bool Writing() const { return writing_; }
  [[nodiscard]] bool Empty() const { return queue_.empty(); }
  [[nodiscard]] size_t Bytes() const { return bytes_; }
  [[nodiscard]] size_t Limit() const { return limit_; }
  // The next frame to write, held by the writer until Done.
  SharedText Front() {
    writing_ = true;
    return queue_.front().frame;
  }
  // The front frame is written; true when it was a reply.
  bool Done() {
    const bool reply = queue_.front().reply;
    bytes_ -= queue_.front().frame->size();
    queue_.pop_front();
    writing_ = false;
    return reply;
  }

 private:
  struct Frame {
    SharedText frame;
    bool reply;  // a WebSocket command's answer
  };
  size_t limit_;
  size_t bytes_ = 0;
  std::deque<Frame> queue_;
  bool writing_ = false;
};

}  // namespace Tesk::DevHost
