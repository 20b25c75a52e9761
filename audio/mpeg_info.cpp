#include "audio/mpeg_info.h"

#include <sys/stat.h>

#include <cstring>
#include <limits>
#include <memory>

#include "foundation/text.h"

namespace {

struct FileCloser {
    void operator()(FILE* f) const { fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

int32_t ClampToInt32(int64_t value) { return value > kInt32Max ? kInt32Max : static_cast<int32_t>(value); }

// kbit/s by bitrate index; columns MPEG-1 Layer I, II, III, MPEG-2 Layer I, MPEG-2 Layer III.
constexpr int16_t kBitrates[16][5] = {
    {0, 0, 0, 0, 0},           {32, 32, 32, 32, 8},       {64, 48, 40, 48, 16},
    {96, 56, 48, 56, 24},      {128, 64, 56, 64, 32},     {160, 80, 64, 80, 40},
    {192, 96, 80, 96, 48},     {224, 112, 96, 112, 56},   {256, 128, 112, 128, 64},
    {288, 160, 128, 144, 80},  {320, 192, 160, 160, 96},  {352, 224, 192, 176, 112},
    {384, 256, 224, 192, 128}, {416, 320, 256, 224, 144}, {448, 384, 320, 256, 160},
    {0, 0, 0, 0, 0},
};

// Scanner tables, by scanner version (0 MPEG-2, 1 MPEG-1, 2 MPEG-2.5).
constexpr int32_t kScanRates[3][4] = {
    {22050, 24000, 16000, 50000},
    {44100, 48000, 32000, 50000},
    {11025, 12000, 8000, 50000},
};
constexpr int32_t kScanBitratesV1[15] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
constexpr int32_t kScanBitratesV2[15] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};

constexpr uint32_t kMinFrameLength = 21;

// Reads a header at the stream's position; a short read rejects it.
uint32_t ReadHeaderAt(FILE* stream, MpegFrameHeader* header) {
    uint8_t bytes[4];
    if (fread(bytes, 1, 4, stream) != 4) {
        *header = MpegFrameHeader{};
        return 0;
    }
    return ReadFrameHeader(bytes, header);
}

bool SameStream(const MpegFrameHeader& a, const MpegFrameHeader& b) {
    return a.version == b.version && a.layer == b.layer && a.crc == b.crc &&
           a.sampleRateIndex == b.sampleRateIndex && a.mode == b.mode && a.copyright == b.copyright &&
           a.original == b.original && a.emphasis == b.emphasis;
}

// Looks for four consecutive matching Layer III frames from offset on. On
// success the stream is back at the run's first frame, whose header becomes
// the current header, and *runStart is its offset.
bool FindFrameRun(MpegFrameScan* scan, int64_t offset, int64_t* runStart) {
    FILE* stream = scan->stream;
    if (fseeko(stream, offset, SEEK_SET) != 0) return false;
    for (;;) {
        int c;
        while ((c = getc_unlocked(stream)) != EOF && c != 0xFF) {
        }
        if (c == EOF) return false;
        const int64_t start = ftello(stream) - 1;
        if (start < 0 || fseeko(stream, start, SEEK_SET) != 0) return false;
        MpegFrameHeader first;
        const uint32_t length = ReadHeaderAt(stream, &first);
        if (length == 0) continue;  // carry on 4 bytes past the candidate

        int64_t next = start + length;
        if (fseeko(stream, next, SEEK_SET) != 0) return false;
        int count = 1;
        while (count < 4 && next + 4 <= scan->dataSize) {
            MpegFrameHeader header;
            const uint32_t nextLength = ReadHeaderAt(stream, &header);
            if (nextLength == 0 || !SameStream(first, header)) break;
            next += nextLength;
            if (fseeko(stream, next, SEEK_SET) != 0) return false;
            ++count;
        }
        if (count == 4) {
            if (fseeko(stream, start, SEEK_SET) != 0) return false;
            scan->header = first;
            scan->headerValid = true;
            *runStart = start;
            return true;
        }
        // Otherwise continue from wherever the failed run left the stream.
    }
}

}  // namespace

int32_t ScanSampleRate(int32_t version, int32_t sampleRateIndex) {
    if (version < 0 || version > 2 || sampleRateIndex < 0 || sampleRateIndex > 3) return 0;
    return kScanRates[version][sampleRateIndex];
}

int32_t ScanBitrate(int32_t version, int32_t bitrateIndex) {
    if (bitrateIndex < 1 || bitrateIndex > 14) return 0;
    return version == 1 ? kScanBitratesV1[bitrateIndex] : kScanBitratesV2[bitrateIndex];
}

uint32_t FrameLength(const MpegFrameHeader& header) {
    const uint32_t bitrate = static_cast<uint32_t>(ScanBitrate(header.version, header.bitrateIndex));
    const uint32_t rate = static_cast<uint32_t>(ScanSampleRate(header.version, header.sampleRateIndex));
    if (bitrate == 0 || rate == 0) return 0;
    const uint32_t factor = header.version == 1 ? 2 : 1;
    return static_cast<uint32_t>(header.padding) + factor * 72000u * bitrate / rate;
}

uint32_t ReadFrameHeader(const uint8_t bytes[4], MpegFrameHeader* header) {
    MpegFrameHeader& h = *header;
    h.sync = (bytes[0] << 4) | ((bytes[1] & 0xE0) >> 4);
    h.version = (bytes[1] & 0x10) ? (bytes[1] >> 3) & 1 : 2;
    h.layer = (bytes[1] >> 1) & 3;
    h.crc = bytes[1] & 1;
    h.bitrateIndex = (bytes[2] >> 4) & 0xF;
    h.sampleRateIndex = (bytes[2] >> 2) & 3;
    h.padding = (bytes[2] >> 1) & 1;
    h.extension = bytes[2] & 1;
    h.mode = (bytes[3] >> 6) & 3;
    h.modeExtension = (bytes[3] >> 4) & 3;
    h.copyright = (bytes[3] >> 3) & 1;
    h.original = (bytes[3] >> 2) & 1;
    h.emphasis = bytes[3] & 3;
    // Free-format (index 0) and index 15 have no table entry: FrameLength
    // gives 0 for them, so they are rejected with every other short frame.
    const uint32_t length = (h.sync == 0xFFE && h.layer == 1) ? FrameLength(h) : 0;
    if (length < kMinFrameLength) {
        h.sync = 0;
        return 0;
    }
    return length;
}

bool RunFrameScan(const char* path, MpegFrameScan* scan, int32_t* sampleRate) {
    *scan = MpegFrameScan{};
    scan->path = path;
    struct stat status;
    if (path != nullptr && path[0] != '\0' && stat(path, &status) == 0) scan->dataSize = status.st_size;
    FilePtr stream(path != nullptr && path[0] != '\0' ? fopen(path, "r") : nullptr);
    if (!stream) return false;
    scan->stream = stream.get();

    int64_t dataStart = 0;
    if (!FindFrameRun(scan, 0, &dataStart)) {
        scan->seconds = 0;
        *sampleRate = ScanSampleRate(scan->header.version, scan->header.sampleRateIndex);
        scan->stream = nullptr;
        return true;
    }
    // Sample four places spread over the file; 64-bit offsets so that files
    // of 2 GiB and more are sampled where they should be.
    const int64_t step = scan->dataSize / 4 + 1;
    for (int k = 0; k < 4; ++k) {
        int64_t ignored;
        FindFrameRun(scan, dataStart + k * step, &ignored);
    }
    const uint32_t frameLength = FrameLength(scan->header);
    const int64_t frames = frameLength > 0 ? (scan->dataSize - dataStart) / frameLength : 0;
    const int64_t audioBytes = static_cast<int64_t>(frameLength) * frames;
    const int32_t bitrate = ScanBitrate(scan->header.version, scan->header.bitrateIndex);
    const float seconds = static_cast<float>(audioBytes) / static_cast<float>(bitrate * 125);
    const double rounded = static_cast<double>(seconds) + 0.5;
    scan->frameCount = ClampToInt32(frames);
    scan->seconds = rounded >= static_cast<double>(kInt32Max) ? kInt32Max : static_cast<int32_t>(rounded);
    *sampleRate = ScanSampleRate(scan->header.version, scan->header.sampleRateIndex);
    scan->stream = nullptr;
    return true;
}

const char* ChannelModeName(int32_t mode) {
    static const char* const kNames[] = {"Stereo", "Joint Stereo", "Dual Channel", "Single Channel"};
    return mode >= 0 && mode <= 3 ? kNames[mode] : "n/a";
}

const char* EmphasisName(int32_t emphasis) {
    static const char* const kNames[] = {"None", "50/15 ms", "Reserved", "CCIT J.17\n"};
    return emphasis >= 0 && emphasis <= 3 ? kNames[emphasis] : "n/a";
}

const char* LayerName(int32_t layerNumber) {
    static const char* const kNames[] = {"I", "II", "III"};
    return layerNumber >= 1 && layerNumber <= 3 ? kNames[layerNumber - 1] : "n/a";
}

void FormatMpegFormat(char* out, size_t size, int32_t versionNumber, int32_t layerNumber) {
    FormatBounded(out, size, "MPEG %d, Layer %s", versionNumber, LayerName(layerNumber));
}

void FormatBitrate(char* out, size_t size, int32_t kbps) { FormatBounded(out, size, "%d kbps", kbps); }

CMpegInfo::CMpegInfo() {
    // Every field starts at 0, as after an Analyse of an unreadable file.
    path_[0] = '\0';
    DecodeHeader(0);
    headerWord_ = 0;
    length_ = fileLength_ = audioStart_ = id3v1Size_ = sampleRate_ = 0;
}

void CMpegInfo::Analyse(const char* path) {
    *this = CMpegInfo();
    if (path != nullptr && strlen(path) < kPathSize) CopyBounded(path_, sizeof path_, path);
    if (!LocateSync()) return;
    DecodeHeader(headerWord_);
    SampleRate();
    LengthSeconds();
}

void CMpegInfo::DecodeHeader(uint32_t word) {
    headerWord_ = word;
    sync_ = static_cast<int32_t>((word >> 21) & 0x7FF);
    versionId_ = static_cast<int32_t>((word >> 19) & 3);
    layerBits_ = static_cast<int32_t>((word >> 17) & 3);
    protection_ = static_cast<int32_t>((word >> 16) & 1);
    bitrateIndex_ = static_cast<int32_t>((word >> 12) & 0xF);
    sampleRateIndex_ = static_cast<int32_t>((word >> 10) & 3);
    padding_ = static_cast<int32_t>((word >> 9) & 1);
    private_ = static_cast<int32_t>((word >> 8) & 1);
    channelMode_ = static_cast<int32_t>((word >> 6) & 3);
    modeExtension_ = static_cast<int32_t>((word >> 4) & 3);
    copyright_ = static_cast<int32_t>((word >> 3) & 1);
    original_ = static_cast<int32_t>((word >> 2) & 1);
    emphasis_ = static_cast<int32_t>(word & 3);
    Bitrate();
}

bool CMpegInfo::LocateSync() {
    if (path_[0] == '\0') return false;
    FilePtr file(fopen(path_, "rb"));
    if (!file) return false;
    FILE* f = file.get();
    if (fseeko(f, 0, SEEK_END) != 0) return false;
    const int64_t end = ftello(f);
    if (end < 0) return false;
    fileLength_ = ClampToInt32(end);

    uint8_t bytes[4];
    if (end >= 128 && fseeko(f, end - 128, SEEK_SET) == 0 && fread(bytes, 1, 4, f) >= 3 &&
        memcmp(bytes, "TAG", 3) == 0)
        id3v1Size_ = 128;

    if (fseeko(f, 0, SEEK_SET) != 0) return false;
    int64_t offset = 0;
    if (fread(bytes, 1, 4, f) >= 3 && memcmp(bytes, "ID3", 3) == 0) {
        // The size bytes are taken whole (their top bits are not cleared).
        uint8_t size[4];
        if (fseeko(f, 6, SEEK_SET) != 0 || fread(size, 1, 4, f) != 4) return false;
        offset = 10 + ((int64_t{size[0]} << 21) | (size[1] << 14) | (size[2] << 7) | size[3]);
    }
    if (fseeko(f, offset, SEEK_SET) != 0) return false;

    // The audio start must fit its 32-bit field; give up beyond that.
    for (int c; offset < kInt32Max && (c = getc_unlocked(f)) != EOF; ++offset) {
        if (c != 0xFF) continue;
        const int second = getc_unlocked(f);
        if (second == EOF) return false;
        if ((second & 0xE0) == 0xE0) {
            const int third = getc_unlocked(f);
            const int fourth = third == EOF ? EOF : getc_unlocked(f);
            audioStart_ = static_cast<int32_t>(offset);
            headerWord_ = (0xFFu << 24) | (static_cast<uint32_t>(second) << 16) |
                          (third == EOF ? 0u : static_cast<uint32_t>(third) << 8) |
                          (fourth == EOF ? 0u : static_cast<uint32_t>(fourth));
            return true;
        }
        ++offset;  // the second byte is passed over as well
    }
    return false;
}

void CMpegInfo::FrameScan() {
    MpegFrameScan scan;
    int32_t rate = 0;
    if (!RunFrameScan(path_, &scan, &rate)) return;
    length_ = scan.seconds;
    sampleRate_ = rate;
}

int32_t CMpegInfo::LengthSeconds() {
    if (length_ == 0) FrameScan();
    return length_;
}

int32_t CMpegInfo::SampleRate() {
    if (sampleRate_ == 0 && length_ == 0) FrameScan();
    return sampleRate_;
}

int32_t CMpegInfo::Bitrate() {
    int column = -1;
    if (versionId_ == 3 && layerBits_ == 3) column = 0;
    else if (versionId_ == 3 && layerBits_ == 2) column = 1;
    else if (versionId_ == 3 && layerBits_ == 1) column = 2;
    else if (versionId_ == 2 && layerBits_ == 3) column = 3;
    else if (versionId_ == 2 && layerBits_ == 1) column = 4;
    bitrate_ = column < 0 ? 0 : kBitrates[bitrateIndex_ & 0xF][column];
    return bitrate_;
}

int32_t CMpegInfo::VersionNumber() const {
    if (versionId_ == 3) return 1;
    if (versionId_ == 2) return 2;
    return 0;
}

int32_t CMpegInfo::LayerNumber() const {
    if (layerBits_ == 1) return 3;
    if (layerBits_ == 2) return 2;
    if (layerBits_ == 3) return 1;
    return 0;
}
