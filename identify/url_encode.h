#pragma once
// Percent-encoding for the query strings sent to the web services.

#include <cstddef>

// Replaces each of the 25 delimiter characters the services expect escaped
// ($&+,/:;=?@ space "<>#%{}|\^~[]`) by "%XX" with upper-case hex digits; every
// other byte, including control bytes and bytes above 127, passes unchanged.
// The output is always terminated and never exceeds outSize bytes; an escape
// that does not fit whole is cut like any other text.
void UrlEncode(char* out, size_t outSize, const char* text);
