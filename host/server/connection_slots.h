// ConnectionSlots: the bounds on a server's connections, kept so that a
// local process without the token cannot lock the token's holders out.
//
// A new connection is pending until a request of it carries this run's
// credentials. Pending connections have slots of their own; when they are
// full the oldest pending connection is closed for the new one (a real
// client sends its request at once, an idle one has had the longest time).
// An authenticated connection moves to the request slots; when those are
// full the one idle the longest (waiting for its next request) is closed,
// and only when every one is busy is the new one refused. Event streams
// (Server-Sent Events, WebSocket) have a bound of their own.
//
// Threads: the server's thread only, but Total() may be read anywhere.
#pragma once

#include <atomic>
#include <cstddef>
#include <list>
#include <unordered_map>
#include <vector>

namespace Tesk::DevHost {

enum class SlotKind { Pending, Request, Stream };

// A connection as the slots see it.
class SlotHolder {
 public:
  // Closes the connection now: its slot went to another. It has already
  // left the slots.
  virtual void Evict() = 0;

 protected:
  ~SlotHolder() = default;
};

struct SlotLimits {
  size_t pending = 64;
  size_t requests = 128;
  size_t streams = 32;
};

class ConnectionSlots {
 public:
  explicit ConnectionSlots(SlotLimits limits) : limits_(limits) {}
  ConnectionSlots(const ConnectionSlots&) = delete;
  ConnectionSlots& operator=(const ConnectionSlots&) = delete;

  // A new connection, pending; evicts the oldest pending one when full.
  void AddPending(SlotHolder& holder);
  // Moves a pending connection to the request slots, busy; evicts the
  // longest idle request connection when full. False when every request
  // slot is busy (the holder stays pending). True for a request connection.
  bool Promote(SlotHolder& holder);
  // An event stream; false when the stream slots are full.
  bool AddStream(SlotHolder& holder);
  // A request connection waiting for its next request (idle, the first to
  // go) or handling one (busy). Pending connections are always evictable.
  void SetIdle(SlotHolder& holder, bool idle);
  // Leaves the slots (when the connection ends); nothing when not held.
  void Remove(SlotHolder& holder);

  [[nodiscard]] size_t Count(SlotKind kind) const { return List(kind).size(); }
  // Connections held, of every kind.
  [[nodiscard]] size_t Total() const { return total_.load(); }
  // Every holder, for shutting down.
  [[nodiscard]] std::vector<SlotHolder*> Holders() const;

 private:
  struct Entry {
    SlotHolder* holder;
    SlotKind kind;
    bool idle;
  };
  using Entries = std::list<Entry>;

  Entries& List(SlotKind kind);
  [[nodiscard]] const Entries& List(SlotKind kind) const;
  void Insert(SlotHolder& holder, SlotKind kind, bool idle);
  // Takes the holder out and closes it.
  void Evict(Entries::iterator entry);

  SlotLimits limits_;
  Entries pending_;
  Entries requests_;  // front: idle the longest
  Entries streams_;
  std::unordered_map<const SlotHolder*, Entries::iterator> where_;
  std::atomic<size_t> total_{0};
};

}  // namespace Tesk::DevHost
