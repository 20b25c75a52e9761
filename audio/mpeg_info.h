#pragma once
// MPEG audio stream properties of an MP3 file, read without decoding: where
// the audio starts, the fields of the first frame header, whether an ID3v1 tag
// ends the file, and (measured lazily by the frame scanner) the playing time
// and the sample rate. Nothing here throws; an unreadable file leaves every
// field at 0, which callers treat as unknown.

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The frame scanner's view of one 4-byte header.
struct MpegFrameHeader {
    int32_t sync;             // 0xFFE at a real frame; 0 once rejected
    int32_t version;          // 1 MPEG-1, 0 MPEG-2, 2 MPEG-2.5 (and reserved)
    int32_t layer;            // 1 = Layer III
    int32_t crc;
    int32_t bitrateIndex;
    int32_t sampleRateIndex;
    int32_t padding;
    int32_t extension;
    int32_t mode;
    int32_t modeExtension;
    int32_t copyright;
    int32_t original;
    int32_t emphasis;
};

// The frame scanner's working record, zeroed before each scan.
struct MpegFrameScan {
    const char* path;
    FILE* stream;
    int64_t dataSize;     // file size from stat
    bool headerValid;
    MpegFrameHeader header;  // the current header
    int32_t seconds;
    int32_t frameCount;
};

// Decodes four header bytes. Returns the Layer III frame length in bytes, or
// 0 when the header is rejected (no sync, not Layer III, free-format or
// invalid bitrate index, or a frame shorter than 21 bytes).
uint32_t ReadFrameHeader(const uint8_t bytes[4], MpegFrameHeader* header);
// padding + F * 72000 * bitrate / sample rate, F = 2 for MPEG-1, else 1;
// 0 for bitrate indexes without a table entry.
uint32_t FrameLength(const MpegFrameHeader& header);
// Scanner tables: Hz by version and sample-rate index, kbit/s by version and
// bitrate index (0 outside 1..14).
int32_t ScanSampleRate(int32_t version, int32_t sampleRateIndex);
int32_t ScanBitrate(int32_t version, int32_t bitrateIndex);

// Measures the playing time and sample rate of a file by sampling frame runs.
// Fills scan->seconds, scan->header and scan->frameCount; returns false when
// the file could not be opened (nothing measured).
bool RunFrameScan(const char* path, MpegFrameScan* scan, int32_t* sampleRate);

// Display names; "n/a" outside the known values.
const char* ChannelModeName(int32_t mode);
const char* EmphasisName(int32_t emphasis);
const char* LayerName(int32_t layerNumber);
// "MPEG %d, Layer %s" and "%d kbps".
void FormatMpegFormat(char* out, size_t size, int32_t versionNumber, int32_t layerNumber);
void FormatBitrate(char* out, size_t size, int32_t kbps);

class CMpegInfo {
public:
    // Room for the longest path the file operations accept. A longer path is
    // treated as unreadable rather than cut to a different file's name.
    static constexpr size_t kPathSize = 4096;

    CMpegInfo();

    // Fills the object from the file; always completes.
    void Analyse(const char* path);
    // Decodes a header word into the header fields and the bitrate.
    void DecodeHeader(uint32_t word);

    int32_t AudioStart() const { return audioStart_; }
    int32_t FileLength() const { return fileLength_; }
    int32_t Id3v1Size() const { return id3v1Size_; }
    // Lazy: run the frame scan while nothing has been measured.
    int32_t LengthSeconds();
    int32_t SampleRate();
    int32_t Bitrate();
    int32_t VersionNumber() const;
    int32_t LayerNumber() const;

    uint32_t HeaderWord() const { return headerWord_; }
    int32_t Sync() const { return sync_; }
    int32_t VersionId() const { return versionId_; }
    int32_t LayerBits() const { return layerBits_; }
    int32_t Protection() const { return protection_; }
    int32_t BitrateIndex() const { return bitrateIndex_; }
    int32_t SampleRateIndex() const { return sampleRateIndex_; }
    int32_t ChannelMode() const { return channelMode_; }
    int32_t ModeExtension() const { return modeExtension_; }
    int32_t Emphasis() const { return emphasis_; }
    int32_t Padding() const { return padding_; }
    int32_t PrivateBit() const { return private_; }
    int32_t Copyright() const { return copyright_; }
    int32_t Original() const { return original_; }
    const char* Path() const { return path_; }

private:
    bool LocateSync();
    void FrameScan();

    char path_[kPathSize];
    uint32_t headerWord_;
    int32_t length_;
    int32_t fileLength_;
    int32_t sync_;
    int32_t versionId_;
    int32_t layerBits_;
    int32_t protection_;
    int32_t bitrateIndex_;
    int32_t bitrate_;
    int32_t sampleRateIndex_;
    int32_t padding_;
    int32_t private_;
    int32_t channelMode_;
    int32_t modeExtension_;
    int32_t copyright_;
    int32_t original_;
    int32_t emphasis_;
    int32_t audioStart_;
    int32_t id3v1Size_;
    int32_t sampleRate_;
};
