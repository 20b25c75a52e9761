#include "update/update_download.h"

#include <archive.h>
#include <archive_entry.h>
#include <curl/curl.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <system_error>

#include "foundation/errors.h"
#include "identify/http_request.h"
#include "identify/url_access_job.h"

namespace {

constexpr int32_t kUserCancelled = -128;
constexpr long kMaxRedirects = CHttpRequest::kMaxRedirects;
constexpr long kConnectSeconds = 60;
constexpr size_t kArchiveBlock = 16384;

struct SCurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct SArchiveReadDeleter {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct SArchiveWriteDeleter {
    void operator()(archive* a) const { archive_write_free(a); }
};
using CArchiveReader = std::unique_ptr<archive, SArchiveReadDeleter>;

struct STransferState {
    int fd = -1;
    off_t written = 0;
    bool truncated = false;
    int writeErrno = 0;
    const std::atomic<bool>* cancel = nullptr;
};

// The first bytes replace the placeholder byte; every write goes straight to
// the file so that its size on disk follows the transfer.
size_t OnData(char* data, size_t size, size_t count, void* user) {
    auto* state = static_cast<STransferState*>(user);
    const size_t length = size * count;
    if (state->cancel->load(std::memory_order_acquire)) return 0;
    if (!state->truncated) {
        if (ftruncate(state->fd, 0) != 0) {
            state->writeErrno = errno;
            return 0;
        }
        state->truncated = true;
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t n = pwrite(state->fd, data + done, length - done, state->written);
        if (n < 0) {
            if (errno == EINTR) continue;
            state->writeErrno = errno;
            return 0;
        }
        done += static_cast<size_t>(n);
        state->written += n;
    }
    return length;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* state = static_cast<STransferState*>(user);
    return state->cancel->load(std::memory_order_acquire) ? 1 : 0;
}

int32_t ArchiveError(archive* a) {
    const int err = archive_errno(a);
    return err > 0 ? TranslateErrno(err) : eInvalidData;
}

// A reader for the archive kinds an update comes in. Anything else (a disk
// image, a package, a plain program) is left as downloaded.
CArchiveReader OpenArchive(const std::string& path) {
    CArchiveReader reader(archive_read_new());
    if (!reader) throw CError{eOutOfMemory};
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_zip(reader.get());
    archive_read_support_format_tar(reader.get());
    archive_read_support_format_7zip(reader.get());
    if (archive_read_open_filename(reader.get(), path.c_str(), kArchiveBlock) != ARCHIVE_OK) return nullptr;
    return reader;
}

}  // namespace

CUpdateDownload::CUpdateDownload(std::string url, std::string destination)
    : url_(std::move(url)), destination_(std::move(destination)) {}

CUpdateDownload::~CUpdateDownload() { Cancel(); }

void CUpdateDownload::Start() {
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error& e) {
        ThrowErrno(e.code().value() != 0 ? e.code().value() : -1);
    }
}

void CUpdateDownload::Cancel() {
    cancel_.store(true, std::memory_order_release);
    if (thread_.joinable()) thread_.join();
}

void CUpdateDownload::Run() {
    int32_t error = 0;
    const int fd = ::open(destination_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = TranslateErrno(errno);
    } else {
        bool downloaded = false;
        if (::write(fd, "", 1) != 1) {
            error = TranslateErrno(errno);
        } else {
            try {
                error = Transfer(fd);
            } catch (const CError& e) {
                error = e.code;
            } catch (...) {
                error = eOutOfMemory;
            }
            downloaded = error == 0;
        }
        ::close(fd);
        if (downloaded) {
            // A failed expansion keeps the download itself: it is complete.
            try {
                if (IsExpandableArchive(destination_)) {
                    const size_t slash = destination_.find_last_of('/');
                    const std::string folder =
                        slash == std::string::npos ? "." : destination_.substr(0, slash == 0 ? 1 : slash);
                    error = ExpandArchive(destination_, folder, &cancel_);
                }
            } catch (const CError& e) {
                error = e.code;
            }
        } else {
            ::unlink(destination_.c_str());
        }
    }
    if (cancel_.load(std::memory_order_acquire) && error != 0) error = kUserCancelled;
    error_.store(error, std::memory_order_relaxed);
    done_.store(true, std::memory_order_release);
}

int32_t CUpdateDownload::Transfer(int fd) {
    InitTransferLibrary();
    std::unique_ptr<CURL, SCurlDeleter> curl(curl_easy_init());
    if (!curl) return eOutOfMemory;
    CURL* h = curl.get();
    STransferState state;
    state.fd = fd;
    state.cancel = &cancel_;
    const std::string userAgent = CHttpRequest::UserAgent();

    curl_easy_setopt(h, CURLOPT_URL, url_.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    if (!userAgent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, userAgent.c_str());
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    // An error page must not end up as the downloaded update.
    curl_easy_setopt(h, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, OnData);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &state);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, OnProgress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &state);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);

    const CURLcode code = curl_easy_perform(h);
    if (cancel_.load(std::memory_order_acquire)) return kUserCancelled;
    if (state.writeErrno != 0) return TranslateErrno(state.writeErrno);
    if (code != CURLE_OK) {
        long osErrno = 0;
        curl_easy_getinfo(h, CURLINFO_OS_ERRNO, &osErrno);
        return TransferErrorCode(code, osErrno);
    }
    // An empty body leaves an empty file, not the placeholder byte.
    if (ftruncate(fd, state.written) != 0) return TranslateErrno(errno);
    return 0;
}

bool IsExpandableArchive(const std::string& path) {
    CArchiveReader reader = OpenArchive(path);
    if (!reader) return false;
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(reader.get(), &entry);
    return r == ARCHIVE_OK || r == ARCHIVE_WARN;
}

int32_t ExpandArchive(const std::string& path, const std::string& folder, const std::atomic<bool>* cancel) {
    CArchiveReader reader = OpenArchive(path);
    if (!reader) return eInvalidData;
    std::unique_ptr<archive, SArchiveWriteDeleter> writer(archive_write_disk_new());
    if (!writer) return eOutOfMemory;
    // Modes keep their execute bits; set-id bits and owners are not restored.
    // Entries are placed below the folder by prefixing its path, so absolute
    // entry names are refused here rather than by the library; the folder's
    // real path keeps its own links out of the symbolic-link check.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_NODOTDOT |
                                                     ARCHIVE_EXTRACT_SECURE_SYMLINKS);
    std::unique_ptr<char, decltype(&std::free)> real(realpath(folder.c_str(), nullptr), &std::free);
    if (!real) return TranslateErrno(errno);
    const std::string prefix = std::string(real.get()) + (real.get()[1] != '\0' ? "/" : "");
    for (;;) {
        if (cancel != nullptr && cancel->load(std::memory_order_acquire)) return kUserCancelled;
        archive_entry* entry = nullptr;
        int r = archive_read_next_header(reader.get(), &entry);
        if (r == ARCHIVE_EOF) break;
        if (r < ARCHIVE_WARN) return ArchiveError(reader.get());
        const char* name = archive_entry_pathname(entry);
        if (name == nullptr || name[0] == '/' || name[0] == '\0') return eInvalidData;
        archive_entry_set_pathname(entry, (prefix + name).c_str());
        if (const char* link = archive_entry_hardlink(entry)) {
            if (link[0] == '/') return eInvalidData;
            archive_entry_set_hardlink(entry, (prefix + link).c_str());
        }
        r = archive_write_header(writer.get(), entry);
        if (r < ARCHIVE_WARN) return ArchiveError(writer.get());
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            r = archive_read_data_block(reader.get(), &block, &size, &offset);
            if (r == ARCHIVE_EOF) break;
            if (r < ARCHIVE_WARN) return ArchiveError(reader.get());
            if (archive_write_data_block(writer.get(), block, size, offset) < ARCHIVE_WARN)
                return ArchiveError(writer.get());
            if (cancel != nullptr && cancel->load(std::memory_order_acquire)) return kUserCancelled;
        }
        if (archive_write_finish_entry(writer.get()) < ARCHIVE_WARN) return ArchiveError(writer.get());
    }
    if (archive_write_close(writer.get()) < ARCHIVE_WARN) return ArchiveError(writer.get());
    return 0;
}
