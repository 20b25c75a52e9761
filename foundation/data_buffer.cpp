#include "foundation/data_buffer.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "foundation/errors.h"
#include "foundation/text.h"

namespace {

[[noreturn]] void ThrowInvalidData() { throw CError{eInvalidData}; }

}  // namespace

CDataBuffer::~CDataBuffer() { Release(); }

void CDataBuffer::Release() {
    if (owns_) std::free(data_);
    mode_ = kModeWrite;
    data_ = nullptr;
    capacity_ = 0;
    position_ = 0;
    owns_ = false;
    name_[0] = '\0';
}

void CDataBuffer::InitWritable(int32_t initialCapacity, const char* name) {
    // A name that does not fit would make SaveToFile write a different file.
    if (name != nullptr) CheckPathLength(name);
    const std::string nameCopy = name != nullptr ? name : "";  // name may be our own
    Release();
    if (initialCapacity > 0) {
        data_ = static_cast<uint8_t*>(AllocOrThrow(static_cast<size_t>(initialCapacity)));
        owns_ = true;
        capacity_ = initialCapacity;
    }
    CopyBounded(name_, sizeof name_, nameCopy.c_str());
}

void CDataBuffer::LoadFromFile(const char* path) {
    CheckPathLength(path);
    const std::string pathCopy = path;  // path may be our own name
    Release();
    CFileBlock block = ReadWholeFile(pathCopy.c_str());
    // Positions are 32-bit; a larger file cannot be one of our records.
    if (block.length > static_cast<size_t>(INT32_MAX)) throw CError{EFBIG};
    mode_ = kModeRead;
    data_ = reinterpret_cast<uint8_t*>(block.data.release());
    owns_ = true;
    capacity_ = static_cast<int32_t>(block.length);
    position_ = 0;
    CopyBounded(name_, sizeof name_, pathCopy.c_str());
}

void CDataBuffer::AppendBytes(const void* bytes, int32_t count) {
    if (count < 0) throw CError{eParamErr};
    if (count == 0) return;
    const int64_t needed = static_cast<int64_t>(position_) + count;
    if (needed > INT32_MAX) throw CError{eOutOfMemory};
    if (capacity_ < needed) {
        // Grow by the larger of twice the request and the current size.
        int64_t grown = static_cast<int64_t>(capacity_) +
                        std::max<int64_t>(2 * static_cast<int64_t>(count), capacity_);
        if (grown > INT32_MAX) grown = INT32_MAX;
        uint8_t* block = static_cast<uint8_t*>(
            owns_ ? ReallocOrThrow(data_, static_cast<size_t>(grown))
                  : AllocOrThrow(static_cast<size_t>(grown)));
        if (!owns_ && data_ != nullptr && position_ > 0) std::memcpy(block, data_, static_cast<size_t>(position_));
        data_ = block;
        owns_ = true;
        capacity_ = static_cast<int32_t>(grown);
    }
    std::memcpy(data_ + position_, bytes, static_cast<size_t>(count));
    position_ += count;
}

void CDataBuffer::AppendString(const char* text) {
    const size_t length = std::strlen(text) + 1;
    if (length > static_cast<size_t>(INT32_MAX)) throw CError{eOutOfMemory};
    AppendBytes(text, static_cast<int32_t>(length));
}

void CDataBuffer::AppendInt32(int32_t value) {
    const uint32_t bits = static_cast<uint32_t>(value);
    const uint8_t bytes[4] = {static_cast<uint8_t>(bits >> 24), static_cast<uint8_t>(bits >> 16),
                              static_cast<uint8_t>(bits >> 8), static_cast<uint8_t>(bits)};
    AppendBytes(bytes, 4);
}

void CDataBuffer::AppendByte(uint8_t value) { AppendBytes(&value, 1); }

int32_t CDataBuffer::ReadInt32() {
    uint8_t bytes[4];
    ReadBytes(bytes, 4);
    return static_cast<int32_t>((static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
                                (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3]);
}

int32_t CDataBuffer::ReadCount(int32_t maximum) {
    const int32_t value = ReadInt32();
    if (value < 1 || value > maximum) ThrowInvalidData();
    return value;
}

uint8_t CDataBuffer::ReadByte() {
    uint8_t value = 0;
    ReadBytes(&value, 1);
    return value;
}

void CDataBuffer::ReadBytes(void* destination, int32_t count) {
    if (count < 0 || ContentLength() - position_ < count) ThrowInvalidData();
    if (count == 0) return;
    std::memcpy(destination, data_ + position_, static_cast<size_t>(count));
    position_ += count;
}

void CDataBuffer::ReadString(char* destination, int32_t limit) {
    const int32_t remaining = ContentLength() - position_;
    const int32_t window = std::min(remaining, limit);
    if (window <= 0) ThrowInvalidData();
    const void* nul = std::memchr(data_ + position_, 0, static_cast<size_t>(window));
    if (nul == nullptr) ThrowInvalidData();
    const int32_t length = static_cast<int32_t>(static_cast<const uint8_t*>(nul) - (data_ + position_)) + 1;
    std::memcpy(destination, data_ + position_, static_cast<size_t>(length));
    position_ += length;
}

void CDataBuffer::Scramble(int32_t margin, const uint8_t* key, int32_t keyLength) {
    if (key == nullptr || keyLength <= 0 || margin < 0) throw CError{eParamErr};
    const int32_t length = ContentLength();
    for (int32_t i = margin; i < length - margin; ++i) {
        const uint32_t index = static_cast<uint32_t>(i);
        uint32_t k = (index * index + key[index % static_cast<uint32_t>(keyLength)]) % 256;
        if (k == 0) k = 1;
        data_[i] ^= static_cast<uint8_t>(k);
    }
}

void CDataBuffer::SaveToFile(const char* path, EFileMode fileMode) const {
    WriteWholeFile(path != nullptr ? path : name_, data_, static_cast<size_t>(ContentLength()), fileMode);
}
