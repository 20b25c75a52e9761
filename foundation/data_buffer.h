#pragma once
// The growable byte buffer: a write side (mode 2, built in memory) and a read
// side (mode 1, loaded from a file). Integers are 4 bytes, big-endian; strings
// are stored with their terminating NUL. Reads that run short throw CError -68.

#include <cstddef>
#include <cstdint>

#include "foundation/files.h"

class CDataBuffer {
public:
    enum : int32_t { kModeRead = 1, kModeWrite = 2 };

    // Default state: mode 2, no data, capacity 0, position 0, not owning, empty name.
    CDataBuffer() = default;
    ~CDataBuffer();
    CDataBuffer(const CDataBuffer&) = delete;
    CDataBuffer& operator=(const CDataBuffer&) = delete;

    // Writable construction: frees an owned block, mode 2, allocates
    // initialCapacity bytes when above 0, copies the name (a path that does
    // not fit the name field throws rather than being shortened).
    void InitWritable(int32_t initialCapacity, const char* name = nullptr);
    // Reads the whole file (mode 1, capacity = file size, position 0).
    void LoadFromFile(const char* path);
    void Rewind() { position_ = 0; }
    // Frees an owned block and returns to the default state.
    void Release();

    // Write side.
    void AppendBytes(const void* bytes, int32_t count);
    void AppendString(const char* text);
    void AppendInt32(int32_t value);
    void AppendByte(uint8_t value);

    // Read side.
    int32_t ReadCount(int32_t maximum);
    int32_t ReadInt32();
    uint8_t ReadByte();
    void ReadString(char* destination, int32_t limit);
    void ReadBytes(void* destination, int32_t count);

    // XOR scrambling of the content in place; its own inverse.
    void Scramble(int32_t margin, const uint8_t* key, int32_t keyLength);
    // Writes the content to path, or to the buffer's own name when path is
    // null, replacing the file atomically (WriteWholeFile).
    void SaveToFile(const char* path = nullptr, EFileMode fileMode = EFileMode::Shared) const;

    int32_t mode() const { return mode_; }
    const uint8_t* data() const { return data_; }
    uint8_t* data() { return data_; }
    int32_t capacity() const { return capacity_; }
    int32_t position() const { return position_; }
    // position in mode 2, capacity in mode 1.
    int32_t ContentLength() const { return mode_ == kModeWrite ? position_ : capacity_; }
    const char* name() const { return name_; }

    // Room for the longest path the file operations accept.
    static constexpr size_t kNameSize = kMaxPathLength + 1;

private:
    int32_t mode_ = kModeWrite;
    uint8_t* data_ = nullptr;
    int32_t capacity_ = 0;
    int32_t position_ = 0;
    bool owns_ = false;
    char name_[kNameSize] = {};
};
