#include "server/connection_slots.h"

#include <algorithm>

namespace Tesk::DevHost {

ConnectionSlots::Entries& ConnectionSlots::List(SlotKind kind) {
  return kind == SlotKind::Pending ? pending_ : kind == SlotKind::Request ? requests_ : streams_;
}

const ConnectionSlots::Entries& ConnectionSlots::List(SlotKind kind) const {
  return const_cast<ConnectionSlots*>(this)->List(kind);
}

void ConnectionSlots::Insert(SlotHolder& holder, SlotKind kind, bool idle) {
  Entries& list = List(kind);
  where_[&holder] = list.insert(list.end(), Entry{&holder, kind, idle});
  total_ = where_.size();
}

void ConnectionSlots::Evict(Entries::iterator entry) {
  SlotHolder* holder = entry->holder;
  Remove(*holder);
  holder->Evict();
}

void ConnectionSlots::AddPending(SlotHolder& holder) {
  if (limits_.pending == 0) return holder.Evict();
  if (pending_.size() >= limits_.pending) Evict(pending_.begin());
  Insert(holder, SlotKind::Pending, true);
}

bool ConnectionSlots::Promote(SlotHolder& holder) {
  const auto found = where_.find(&holder);
  if (found != where_.end() && found->second->kind == SlotKind::Request) {
    SetIdle(holder, false);
    return true;
  }
  if (requests_.size() >= limits_.requests) {
    const auto idle =
        std::find_if(requests_.begin(), requests_.end(), [](const Entry& e) { return e.idle; });
    if (idle == requests_.end()) return false;
    Evict(idle);
  }
  if (limits_.requests == 0) return false;
  Remove(holder);
  Insert(holder, SlotKind::Request, false);
  return true;
}

bool ConnectionSlots::AddStream(SlotHolder& holder) {
  if (streams_.size() >= limits_.streams) return false;
  Insert(holder, SlotKind::Stream, false);
  return true;
}

void ConnectionSlots::SetIdle(SlotHolder& holder, bool idle) {
  const auto found = where_.find(&holder);
  if (found == where_.end() || found->second->kind != SlotKind::Request) return;
  found->second->idle = idle;
  // The longest idle stays in front.
  if (idle) requests_.splice(requests_.end(), requests_, found->second);
}

void ConnectionSlots::Remove(SlotHolder& holder) {
  const auto found = where_.find(&holder);
  if (found == where_.end()) return;
  List(found->second->kind).erase(found->second);
  where_.erase(found);
  total_ = where_.size();
}

std::vector<SlotHolder*> ConnectionSlots::Holders() const {
  std::vector<SlotHolder*> holders;
  for (const Entries* list : {&pending_, &requests_, &streams_}) {
    for (const Entry& entry : *list) holders.push_back(entry.holder);
  }
  return holders;
}

}  // namespace Tesk::DevHost
