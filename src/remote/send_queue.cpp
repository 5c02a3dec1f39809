#include "remote/send_queue.h"

#include <algorithm>

namespace qyr {

bool SendQueue::Append(std::string_view bytes) {
  if (bytes.size() > limit_ - size_) return false;
  while (!bytes.empty()) {
    if (blocks_.empty() || blocks_.back().size() == kBlockSize) {
      blocks_.emplace_back();
      blocks_.back().reserve(kBlockSize);
    }
    std::string& last = blocks_.back();
    const std::size_t take = std::min(bytes.size(), kBlockSize - last.size());
    last.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    size_ += take;
  }
  return true;
}

std::string_view SendQueue::Front() const {
  if (blocks_.empty()) return {};
  return std::string_view(blocks_.front()).substr(front_offset_);
}

void SendQueue::Consume(std::size_t count) {
  while (count > 0 && !blocks_.empty()) {
    const std::size_t left = blocks_.front().size() - front_offset_;
    const std::size_t take = std::min(count, left);
    front_offset_ += take;
    size_ -= take;
    count -= take;
    if (front_offset_ == blocks_.front().size()) {
      blocks_.pop_front();
      front_offset_ = 0;
    }
  }
}

void SendQueue::Clear() {
  blocks_.clear();
  front_offset_ = 0;
  size_ = 0;
}

}  // namespace qyr
