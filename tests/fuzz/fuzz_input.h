// The fuzzers' input read front to back as the values a target needs, so that a seed can be
// written by hand (tests/fuzz/seeds.py) and a finding read back. Past the end every value reads
// as zero.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tessil::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return position_ >= size_; }

  template <typename T>
  T Read() {
    T value{};
    const size_t n = position_ < size_ ? std::min(sizeof(T), size_ - position_) : 0;
    std::memcpy(&value, data_ + position_, n);
    position_ += sizeof(T);
    return value;
  }

  // A value from 0 to `count` - 1.
  uint32_t Choose(uint32_t count) { return Read<uint16_t>() % count; }

  // Up to `count` bytes, fewer at the end; returns how many.
  size_t ReadBytes(void* destination, size_t count) {
    const size_t n = position_ < size_ ? std::min(count, size_ - position_) : 0;
    if (n > 0) std::memcpy(destination, data_ + position_, n);
    position_ += count;
    return n;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

}  // namespace tessil::fuzz
