#include "audio/pcm_decoder.h"

#include <fcntl.h>
#include <mad.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "audio/mpeg_info.h"
#include "foundation/files.h"

namespace {

class CFileDescriptor {
public:
    explicit CFileDescriptor(int fd) : fd_(fd) {}
    ~CFileDescriptor() { Close(); }
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;
    int get() const { return fd_; }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// Reads up to length bytes; a regular file may still return fewer per call.
// Returns the bytes read, or -1 on a read error.
int64_t ReadFully(int fd, uint8_t* block, int64_t length) {
    int64_t total = 0;
    while (total < length) {
        const ssize_t got = read(fd, block + total, static_cast<size_t>(length - total));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return -1;
        if (got == 0) break;
        total += got;
    }
    return total;
}

constexpr int32_t kFixedOne = 1 << 28;  // MAD_F_ONE

}  // namespace

int16_t ConvertMadSample(int32_t sample) {
    // 64-bit so that rounding cannot overflow at the extremes.
    int64_t value = int64_t{sample} + (1 << 12);
    value = std::clamp<int64_t>(value, -kFixedOne, kFixedOne - 1);
    return static_cast<int16_t>(value >> 13);
}

// libmad calls back through C; nothing may unwind through it, so a failure
// while appending PCM is parked in the decoder and rethrown after the run.
struct CMadCallbacks {
    static enum mad_flow Input(void* data, struct mad_stream* stream) {
        auto* self = static_cast<CPcmDecoder*>(data);
        if (self->inputHanded_ == self->inputSize_) return MAD_FLOW_BREAK;
        // The whole block in one piece: the next call ends the run.
        mad_stream_buffer(stream, self->input_ + self->inputHanded_,
                          static_cast<unsigned long>(self->inputSize_ - self->inputHanded_));
        self->inputHanded_ = self->inputSize_;
        return MAD_FLOW_CONTINUE;
    }

    static enum mad_flow Output(void* data, struct mad_header const* header, struct mad_pcm* pcm) {
        auto* self = static_cast<CPcmDecoder*>(data);
        self->sampleRate_ = static_cast<int32_t>(header->samplerate);
        self->channels_ = pcm->channels;
        const bool stereo = self->channels_ == 2;
        const int32_t frameBytes = stereo ? 4 : 2;
        const int32_t length = pcm->length;
        if (length <= 0) return MAD_FLOW_CONTINUE;

        // The limit is checked after every sample frame: take the sample
        // frames up to the first one that reaches it (at least one).
        const int64_t room = int64_t{self->byteLimit_} - self->pcm_.ContentLength();
        const int64_t untilLimit = room <= 0 ? 1 : (room + frameBytes - 1) / frameBytes;
        const int32_t count = static_cast<int32_t>(std::min<int64_t>(length, untilLimit));

        uint8_t chunk[1152 * 4];
        const int32_t capacity = static_cast<int32_t>(sizeof chunk) / frameBytes;
        for (int32_t first = 0; first < count; first += capacity) {
            const int32_t n = std::min(capacity, count - first);
            uint8_t* out = chunk;
            for (int32_t i = first; i < first + n; ++i) {
                const int16_t left = ConvertMadSample(pcm->samples[0][i]);
                *out++ = static_cast<uint8_t>(left & 0xFF);
                *out++ = static_cast<uint8_t>((left >> 8) & 0xFF);
                if (stereo) {
                    const int16_t right = ConvertMadSample(pcm->samples[1][i]);
                    *out++ = static_cast<uint8_t>(right & 0xFF);
                    *out++ = static_cast<uint8_t>((right >> 8) & 0xFF);
                }
            }
            try {
                self->pcm_.AppendBytes(chunk, n * frameBytes);
            } catch (const CError& error) {
                self->outputError_ = error;
                self->outputFailed_ = true;
                return MAD_FLOW_BREAK;
            } catch (...) {
                self->outputError_ = CError{eOutOfMemory};
                self->outputFailed_ = true;
                return MAD_FLOW_BREAK;
            }
        }
        return self->pcm_.ContentLength() >= self->byteLimit_ ? MAD_FLOW_BREAK : MAD_FLOW_CONTINUE;
    }

    // Damaged frames are skipped and decoding goes on.
    static enum mad_flow Error(void*, struct mad_stream* stream, struct mad_frame*) {
        (void)mad_stream_errorstr(stream);
        return MAD_FLOW_CONTINUE;
    }
};

bool CPcmDecoder::DecodeFile(const char* path, int32_t byteLimit) {
    byteLimit_ = byteLimit;
    readPosition_ = 0;
    sampleRate_ = 0;
    channels_ = 0;
    inputSize_ = 0;
    inputHanded_ = 0;
    outputFailed_ = false;
    pcm_.Release();

    CMpegInfo info;
    info.Analyse(path);
    const int64_t audioStart = info.AudioStart();
    const int64_t id3v1Size = info.Id3v1Size();
    if (info.LengthSeconds() < kMinimumSeconds) return false;

    CFileDescriptor file(open(path, O_RDONLY | O_CLOEXEC));
    if (file.get() < 0) return false;
    struct stat status;
    if (fstat(file.get(), &status) != 0 || status.st_size == 0) return false;
    if (lseek(file.get(), static_cast<off_t>(audioStart), SEEK_SET) < 0) return false;

    // Compressed input is capped at 0.7 of the PCM limit (single precision,
    // as the limit always was), which is plenty for 160 s at any bitrate.
    const int32_t cap = static_cast<int32_t>(static_cast<float>(byteLimit) * 0.7f);
    const int64_t wanted = std::min<int64_t>(status.st_size - audioStart - id3v1Size, cap);
    if (wanted <= 0) return false;  // a sync inside the ID3v1 tag: no audio

    // Zeroed guard bytes behind the block keep libmad's bit reader in bounds;
    // only the file's bytes are handed over.
    std::unique_ptr<uint8_t[], CFreeDeleter> block(
        static_cast<uint8_t*>(AllocOrThrow(static_cast<size_t>(wanted) + MAD_BUFFER_GUARD)));
    const int64_t got = ReadFully(file.get(), block.get(), wanted);
    file.Close();
    if (got <= 0) return false;
    memset(block.get() + got, 0, MAD_BUFFER_GUARD);
    inputSize_ = static_cast<int32_t>(got);

    pcm_.InitWritable(std::max(byteLimit, 0));
    input_ = block.get();
    struct mad_decoder decoder;
    mad_decoder_init(&decoder, this, CMadCallbacks::Input, nullptr, nullptr, CMadCallbacks::Output,
                     CMadCallbacks::Error, nullptr);
    mad_decoder_run(&decoder, MAD_DECODER_MODE_SYNC);
    mad_decoder_finish(&decoder);
    input_ = nullptr;
    block.reset();

    if (outputFailed_) {
        pcm_.Release();
        sampleRate_ = channels_ = 0;
        throw outputError_;
    }
    // No frame decoded: say so instead of leaving rate and channels unset.
    if (sampleRate_ == 0 || PcmBytes() == 0) {
        sampleRate_ = channels_ = 0;
        return false;
    }
    return true;
}

void CPcmDecoder::SetReadPosition(int32_t offset) { readPosition_ = std::clamp(offset, 0, PcmBytes()); }

int32_t CPcmDecoder::ReadPcm(int32_t count, void* destination) {
    const int32_t n = std::clamp(count, 0, PcmBytes() - readPosition_);
    if (n > 0) memcpy(destination, pcm_.data() + readPosition_, static_cast<size_t>(n));
    readPosition_ += n;
    return n;
}
