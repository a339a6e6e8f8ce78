#include "publish/outbox.h"

#include <stdexcept>

namespace zvk::publish {

Outbox::Outbox(std::size_t capacity_polls) : capacity_(capacity_polls) {
  if (capacity_ == 0) throw std::invalid_argument("the queue holds at least one poll");
}

void Outbox::Push(std::vector<Message> poll) {
  if (poll.empty()) return;
  if (polls_.size() == capacity_) {
    dropped_polls_ += 1;
    dropped_messages_ += polls_.front().size() - front_offset_;
    messages_ -= polls_.front().size() - front_offset_;
    polls_.pop_front();
    front_offset_ = 0;
  }
  messages_ += poll.size();
  polls_.push_back(std::move(poll));
}

const Message* Outbox::Front() const {
  return polls_.empty() ? nullptr : &polls_.front()[front_offset_];
}

void Outbox::Pop() {
  if (polls_.empty()) return;
  --messages_;
  if (++front_offset_ == polls_.front().size()) {
    polls_.pop_front();
    front_offset_ = 0;
  }
}

}  // namespace zvk::publish
