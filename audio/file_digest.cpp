#include "audio/file_digest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>

#include "audio/mpeg_info.h"
#include "foundation/crypto_init.h"
#include "foundation/errors.h"
#include "foundation/files.h"
#include "foundation/text.h"

namespace {

constexpr size_t kPieceSize = 3 * 1024 * 1024;

struct CDigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

void CheckOpenSsl(int result) {
    if (result != 1) throw CError{eUnspecified};
}

void Digest(const char* path, char* digest, int32_t* fileSize, int32_t* playingTime, int32_t* bitrate) {
    CStreamPtr stream(OpenFile(path, "rb"));
    const int64_t length = StreamLength(stream.get());
    *fileSize = static_cast<int32_t>(std::min<int64_t>(length, std::numeric_limits<int32_t>::max()));

    CMpegInfo info;
    info.Analyse(path);
    // The stream's own 64-bit length rather than the info's 32-bit one, so a
    // file of 2 GiB or more is still digested to its end.
    int64_t end = length;
    const int64_t start = info.AudioStart();
    *playingTime = info.LengthSeconds();
    *bitrate = info.Bitrate();

    char tag[3];
    SeekStream(stream.get(), -128);
    ReadAll(stream.get(), tag, sizeof tag);
    if (memcmp(tag, "TAG", 3) == 0) end -= 128;

    SeekStream(stream.get(), start);
    const int64_t count = end - start;

    InitCryptoLibrary();
    std::unique_ptr<EVP_MD_CTX, CDigestContextFree> context(EVP_MD_CTX_new());
    if (!context) throw CError{eOutOfMemory};
    CheckOpenSsl(EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr));
    std::unique_ptr<uint8_t[], CFreeDeleter> piece(static_cast<uint8_t*>(AllocOrThrow(kPieceSize)));
    for (int64_t done = 0; done < count;) {
        const size_t n = static_cast<size_t>(std::min<int64_t>(kPieceSize, count - done));
        ReadAll(stream.get(), piece.get(), n);
        CheckOpenSsl(EVP_DigestUpdate(context.get(), piece.get(), n));
        done += static_cast<int64_t>(n);
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdLength = 0;
    CheckOpenSsl(EVP_DigestFinal_ex(context.get(), md, &mdLength));
    if (mdLength != 16) throw CError{eUnspecified};

    static const char kHex[] = "0123456789abcdef";
    for (unsigned int i = 0; i < 16; ++i) {
        digest[2 * i] = kHex[md[i] >> 4];
        digest[2 * i + 1] = kHex[md[i] & 0xF];
    }
    digest[32] = '\0';
}

}  // namespace

void DigestFile(const char* path, char digest[kDigestTextSize], int32_t* fileSize, int32_t* playingTime,
                int32_t* bitrate) {
    try {
        Digest(path, digest, fileSize, playingTime, bitrate);
        return;
    } catch (...) {
        // Every failure has the same outcome; the stream is closed by its owner.
    }
    CopyBounded(digest, kDigestTextSize, "00000000000000000000000000000000");
    *fileSize = 0;
    *playingTime = 0;
    *bitrate = 0;
}
