#pragma once
// The one ordered collection of songs. The list owns its songs; order is the
// order of addition and removal closes the gap. It does not sort itself: the
// list view orders its rows with SortKey. Main thread only.

#include <cstdint>
#include <memory>
#include <span>

#include "foundation/growable_array.h"
#include "library/song.h"

constexpr uint32_t FourCharCode(const char (&code)[5]) {
    return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) << 24 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 16 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 8 |
           static_cast<uint32_t>(static_cast<uint8_t>(code[3]));
}

// Columns songs can be sorted by, named by the list view's property codes.
enum class ESongColumn : uint32_t {
    None = 0,  // no sort column: list order
    Status = FourCharCode("STAT"),
    FileName = FourCharCode("FNAM"),
    Length = FourCharCode("LENG"),
    SampleRate = FourCharCode("FREQ"),
    Title = FourCharCode("TITL"),
    Artist = FourCharCode("ARTI"),
    Album = FourCharCode("ALBU"),
    Year = FourCharCode("YEAR"),
    Genre = FourCharCode("GENR"),
    Copyright = FourCharCode("COPY"),
    Url = FourCharCode("URLL"),
    Comment = FourCharCode("COMM"),
    Track = FourCharCode("TRCK"),
    Disc = FourCharCode("DISC"),
};

// A text (compared ignoring ASCII case, as bytes) or a signed number.
struct CSortKey {
    const char* text = nullptr;  // null: numeric key
    int64_t number = 0;
};

CSortKey SortKey(const CSong& song, ESongColumn column);
// Negative, zero or positive as a's key is below, equal to or above b's.
int CompareSortKeys(const CSortKey& a, const CSortKey& b);
int CompareSongs(const CSong& a, const CSong& b, ESongColumn column);

class CSongList {
public:
    CSongList() = default;
    CSongList(const CSongList&) = delete;
    CSongList& operator=(const CSongList&) = delete;

    int32_t Count() const { return songs_.Count(); }
    // Null outside the list.
    CSong* At(int32_t position) const;

    // Takes ownership and adds at the end.
    CSong& Append(std::unique_ptr<CSong> song);
    // True when a song refers to the same file (device and inode, not path text).
    bool Contains(const CFileRef& ref) const;
    // Hands over the leadership of groups whose leader goes, then removes and
    // destroys the given songs. Pointers that are not in the list are ignored.
    void Remove(std::span<CSong* const> doomed);
    // One heap copy of every record (all made before any is appended),
    // appended in array order.
    void AdoptStaged(std::span<const CSong> staged);
    // Leaders of groups without another member lose their group.
    void NormalizeGroups();

    // Songs in list order, yielded as references.
    class Iterator {
    public:
        using Inner = const std::unique_ptr<CSong>*;
        explicit Iterator(Inner at) : at_(at) {}
        CSong& operator*() const { return **at_; }
        CSong* operator->() const { return at_->get(); }
        Iterator& operator++() {
            ++at_;
            return *this;
        }
        bool operator==(const Iterator& other) const = default;

    private:
        Inner at_;
    };
    Iterator begin() const { return Iterator(songs_.data()); }
    Iterator end() const { return Iterator(songs_.data() + songs_.Count()); }

    int32_t Capacity() const { return songs_.Capacity(); }

private:
    void RenumberFrom(int32_t position);

    CGrowableArray<std::unique_ptr<CSong>> songs_;
};
