#pragma once
// The ten tag values of a song or of an identification match: a flat record
// of fixed size. Text fields hold single-byte (ISO-8859-1) text, NUL-terminated;
// a value never exceeds its capacity - 1 characters. An empty text is absent.

#include <cstdint>

struct CTagValues {
    char title[96];
    char album[96];
    char artist[96];
    char genre[48];
    char comment[256];
    char year[5];
    char copyright[64];
    char url[64];
    int32_t track;  // 0 means none
    int32_t disc;   // 0 means none
};

// A new record is all zero bytes.
inline CTagValues EmptyTagValues() { return CTagValues{}; }
