#pragma once
// The genre names, indexed by their ID3v1 genre number.

#include <cstdint>

constexpr int32_t kGenreCount = 148;

// The name of genre number 0..147; an empty text for any other number.
const char* GenreName(int32_t number);
