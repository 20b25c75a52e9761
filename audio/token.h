#pragma once
// The fingerprint token: the engine's frames for a stretch of the song that
// starts 40 seconds in, as text for the acoustic identification query.

#include <cstddef>
#include <cstdint>

// Room the caller gives the token, terminator included.
constexpr size_t kTokenCapacity = 10240;
// Room for one frame entry while it is built.
constexpr size_t kTokenLineSize = 2048;

// Fills destination (capacity bytes, terminator included) with the token of
// the file; entries that do not fit are cut. An empty text means that no
// token could be made: the file was refused by the decoder (shorter than 70
// seconds, no audio, unreadable) or memory ran out. Never throws.
void BuildToken(const char* path, char* destination, size_t capacity);

// One entry: the 32 values in eight groups "%04X_%04X_%04X_%04X+", then the
// time value as "%02X+$" (a negative one as its 32-bit two's complement).
void FormatTokenEntry(const uint16_t values[32], int32_t timeValue, char* line, size_t size);
