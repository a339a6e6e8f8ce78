// The readings waiting for the broker: a bounded queue of polls, each poll's channel messages
// together, sent in the order they were polled. When it is full, the oldest poll still waiting
// is dropped whole (its messages not yet handed to the broker) and counted: a long outage keeps
// the latest readings, which are what dashboards and the retained topics show.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <vector>

#include "publish/messages.h"

namespace zvk::publish {

class Outbox {
 public:
  explicit Outbox(std::size_t capacity_polls);

  // Queues one poll's messages (nothing for none); drops the oldest poll first when full.
  void Push(std::vector<Message> poll);
  // The next message to hand over, without taking it.
  const Message* Front() const;
  // Takes the front message once it has been handed over.
  void Pop();

  bool empty() const { return polls_.empty(); }
  std::size_t polls() const { return polls_.size(); }
  std::size_t messages() const { return messages_; }
  std::size_t dropped_polls() const { return dropped_polls_; }
  std::size_t dropped_messages() const { return dropped_messages_; }
  std::size_t capacity() const { return capacity_; }

 private:
  std::size_t capacity_;
  std::deque<std::vector<Message>> polls_;
  std::size_t front_offset_ = 0;  // messages of the front poll already handed over
  // Messages waiting, counted as they come and go: a gateway of many modules asks after every
  // poll of each.
  std::size_t messages_ = 0;
  std::size_t dropped_polls_ = 0;
  std::size_t dropped_messages_ = 0;
};

}  // namespace zvk::publish
