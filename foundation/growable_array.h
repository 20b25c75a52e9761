#pragma once
// A contiguous array that grows to twice its capacity plus one when it is
// full, so capacities run 0, 1, 3, 7, 15, ... Emptying keeps the storage.

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

#include "foundation/errors.h"

template <class T>
class CGrowableArray {
public:
    CGrowableArray() = default;
    CGrowableArray(const CGrowableArray& other) : capacity_(other.capacity_) {
        items_.reserve(static_cast<size_t>(capacity_));
        items_ = other.items_;
    }
    CGrowableArray& operator=(const CGrowableArray& other) {
        if (this != &other) {
            CGrowableArray copy(other);
            swap(copy);
        }
        return *this;
    }
    CGrowableArray(CGrowableArray&& other) noexcept
        : items_(std::move(other.items_)), capacity_(std::exchange(other.capacity_, 0)) {
        other.items_.clear();
    }
    CGrowableArray& operator=(CGrowableArray&& other) noexcept {
        CGrowableArray moved(std::move(other));
        swap(moved);
        return *this;
    }
    void swap(CGrowableArray& other) noexcept {
        items_.swap(other.items_);
        std::swap(capacity_, other.capacity_);
    }

    int32_t Count() const { return static_cast<int32_t>(items_.size()); }
    int32_t Capacity() const { return capacity_; }
    bool Empty() const { return items_.empty(); }

    T& operator[](int32_t index) { return items_[static_cast<size_t>(index)]; }
    const T& operator[](int32_t index) const { return items_[static_cast<size_t>(index)]; }

    T& Append(T value) {
        if (Count() == capacity_) {
            if (capacity_ > (INT32_MAX - 1) / 2) throw CError{eOutOfMemory};
            int32_t grown = capacity_ * 2 + 1;
            try {
                items_.reserve(static_cast<size_t>(grown));
            } catch (const std::bad_alloc&) {
                throw CError{eOutOfMemory};
            }
            capacity_ = grown;
        }
        items_.push_back(std::move(value));
        return items_.back();
    }

    // Count 0, storage kept.
    void Clear() { items_.clear(); }

    // Removes the elements for which pred holds, closing the gaps in order.
    template <class Pred>
    int32_t RemoveIf(Pred pred) {
        return static_cast<int32_t>(std::erase_if(items_, pred));
    }

    // Frees the storage as well.
    void Release() {
        std::vector<T>().swap(items_);
        capacity_ = 0;
    }

    auto begin() { return items_.begin(); }
    auto end() { return items_.end(); }
    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }
    T* data() { return items_.data(); }
    const T* data() const { return items_.data(); }

private:
    std::vector<T> items_;
    int32_t capacity_ = 0;
};
