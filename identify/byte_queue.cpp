#include "identify/byte_queue.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "foundation/errors.h"

CByteQueue::CByteQueue(int32_t initialCapacity)
    : initialCapacity_(static_cast<size_t>(std::max<int32_t>(initialCapacity, 0))),
      capacity_(initialCapacity_),
      data_(static_cast<uint8_t*>(AllocOrThrow(capacity_))) {}

CByteQueue::~CByteQueue() { std::free(data_); }

void CByteQueue::Enqueue(const void* bytes, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (length_ + n >= capacity_) {
        size_t grown = 2 * (length_ + n);
        data_ = static_cast<uint8_t*>(ReallocOrThrow(data_, grown));
        capacity_ = grown;
    }
    if (n > 0) std::memcpy(data_ + length_, bytes, n);
    length_ += n;
}

size_t CByteQueue::Peek(void* destination, size_t n) const {
    std::lock_guard<std::mutex> lock(mutex_);
    n = std::min(n, length_);
    if (n > 0) std::memcpy(destination, data_, n);
    return n;
}

size_t CByteQueue::Take(void* destination, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    n = std::min(n, length_);
    if (n == 0) return 0;
    if (destination != nullptr) std::memcpy(destination, data_, n);
    std::memmove(data_, data_ + n, length_ - n);
    length_ -= n;
    return n;
}

size_t CByteQueue::Length() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return length_;
}

size_t CByteQueue::Capacity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return capacity_;
}
