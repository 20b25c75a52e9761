#pragma once
// Decodes the audio of an MP3 file (between its ID3v2 and ID3v1 tags) with
// libmad into 16-bit little-endian interleaved PCM held in memory, stopping
// once a byte limit of PCM has been produced.

#include <cstdint>

#include "foundation/data_buffer.h"
#include "foundation/errors.h"

// libmad fixed point (28 fraction bits) to 16 bits: round by half a step,
// clip to [-2^28, 2^28 - 1], shift right by 13.
int16_t ConvertMadSample(int32_t sample);

class CPcmDecoder {
public:
    // 160 seconds of 44,100 Hz stereo.
    static constexpr int32_t kTokenByteLimit = 28224000;
    // Songs shorter than this (by the MPEG stream info) are refused.
    static constexpr int32_t kMinimumSeconds = 70;

    CPcmDecoder() = default;
    CPcmDecoder(const CPcmDecoder&) = delete;
    CPcmDecoder& operator=(const CPcmDecoder&) = delete;

    // False when the file is refused (shorter than 70 s, no MPEG frames),
    // cannot be read, or no frame at all could be decoded; DecodedRate and
    // DecodedChannels are then 0. Running out of memory for the input block
    // or the PCM throws CError -41.
    bool DecodeFile(const char* path, int32_t byteLimit);

    int32_t PcmBytes() const { return pcm_.ContentLength(); }
    // Positions outside the PCM are clamped to it.
    void SetReadPosition(int32_t offset);
    // Copies count bytes from the read position and advances it; a request
    // reaching past the PCM copies only what is there. Returns the bytes copied.
    int32_t ReadPcm(int32_t count, void* destination);
    int32_t DecodedRate() const { return sampleRate_; }
    int32_t DecodedChannels() const { return channels_; }
    // Bytes of compressed audio handed to libmad by the last DecodeFile.
    int32_t InputSize() const { return inputSize_; }
    const uint8_t* PcmData() const { return pcm_.data(); }

private:
    friend struct CMadCallbacks;  // libmad's callbacks, in the source file


    int32_t byteLimit_ = 0;
    const uint8_t* input_ = nullptr;  // valid only while decoding
    int32_t inputSize_ = 0;
    int32_t inputHanded_ = 0;
    CDataBuffer pcm_;
    int32_t readPosition_ = 0;
    int32_t sampleRate_ = 0;
    int32_t channels_ = 0;
    bool outputFailed_ = false;
    CError outputError_{0};
};
