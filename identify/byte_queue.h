#pragma once
// A first-in first-out byte store shared between a connection thread and the
// thread that polls it. One mutex guards the whole record; every operation
// holds it for its full duration.

#include <cstddef>
#include <cstdint>
#include <mutex>

class CByteQueue {
public:
    explicit CByteQueue(int32_t initialCapacity = 2048);
    ~CByteQueue();
    CByteQueue(const CByteQueue&) = delete;
    CByteQueue& operator=(const CByteQueue&) = delete;

    // Appends n bytes; grows the block to 2 * (length + n) once length + n
    // reaches the capacity. Throws CError -41 when memory runs out.
    void Enqueue(const void* bytes, size_t n);
    // Copies the first min(n, Length()) bytes without removing them; returns the count.
    size_t Peek(void* destination, size_t n) const;
    // Removes the first min(n, Length()) bytes, copying them first when a
    // destination is given; returns the count.
    size_t Take(void* destination, size_t n);
    size_t Length() const;
    size_t Capacity() const;

private:
    mutable std::mutex mutex_;
    size_t initialCapacity_;
    size_t capacity_;
    uint8_t* data_;
    size_t length_ = 0;
};
