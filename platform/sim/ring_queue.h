// A first-in-first-out queue on a ring of preallocated slots that doubles
// when full: once it has grown to the largest backlog, pushing and popping
// allocate nothing, which keeps the simulated send path free of allocations.
#pragma once

#include <cstddef>
#include <vector>

namespace sim {

template <typename T>
class RingQueue {
 public:
  explicit RingQueue(std::size_t capacity = 64) : slots_(capacity > 0 ? capacity : 1) {}

  bool Empty() const { return size_ == 0; }
  std::size_t Size() const { return size_; }
  T& Front() { return slots_[head_]; }

  void Push(const T& value) {
    if (size_ == slots_.size()) Grow();
    slots_[(head_ + size_) % slots_.size()] = value;
    ++size_;
  }
  T Pop() {
    T value = slots_[head_];
    head_ = (head_ + 1) % slots_.size();
    --size_;
    return value;
  }
  void Clear() { head_ = size_ = 0; }

 private:
  void Grow() {
    std::vector<T> bigger(slots_.size() * 2);
    for (std::size_t i = 0; i < size_; ++i) bigger[i] = slots_[(head_ + i) % slots_.size()];
    slots_.swap(bigger);
    head_ = 0;
  }

  std::vector<T> slots_;
  std::size_t head_ = 0;
  std::size_t size_ = 0;
};

}  // namespace sim
