#pragma once
// The bytes a connection still has to send, in blocks of one segment each, oldest first.
// It refuses to grow past a limit, so a peer that never reads cannot make it grow forever.
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace qyr {

class SendQueue {
 public:
  static constexpr std::size_t kBlockSize = 1460;
  // Replies are two or three bytes: this holds thousands of them for a peer that reads late.
  static constexpr std::size_t kDefaultLimit = 16 * 1024;

  explicit SendQueue(std::size_t limit = kDefaultLimit) : limit_(limit) {}

  // Appends the bytes at the end; false (and nothing appended) if they would pass the limit.
  bool Append(std::string_view bytes);

  // The bytes to hand to the next send: the rest of the front block.
  std::string_view Front() const;

  // Drops `count` bytes from the front, after a send took them.
  void Consume(std::size_t count);

  void Clear();
  std::size_t Size() const { return size_; }
  bool Empty() const { return size_ == 0; }

 private:
  std::deque<std::string> blocks_;
  std::size_t front_offset_ = 0;
  std::size_t size_ = 0;
  std::size_t limit_;
};

}  // namespace qyr
