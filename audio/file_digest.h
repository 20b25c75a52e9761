#pragma once
// The digest that identifies a song by its audio bytes alone: MD5 over the
// region from the first frame sync (behind any ID3v2 tag) to the end of the
// file, less a final 128-byte block that begins with "TAG". Editing the tags
// therefore never changes it.

#include <cstddef>
#include <cstdint>

// 32 lowercase hexadecimal digits and a NUL.
constexpr size_t kDigestTextSize = 33;

// Fills digest with the audio digest and the outputs with the file size, the
// playing time (seconds) and the bitrate (kbit/s) from the stream info. Never
// throws: on any failure (missing file, one shorter than 128 bytes, a read
// error, no memory) the digest is 32 zeros and the outputs are 0.
void DigestFile(const char* path, char digest[kDigestTextSize], int32_t* fileSize, int32_t* playingTime,
                int32_t* bitrate);
