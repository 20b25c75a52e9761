#pragma once
// Cleaning of texts received from web services before they are parsed: HTML
// entities and a few UTF-8 sequences become single-byte (ISO-8859-1) text.

#include <cstddef>

// Replaces the entity patterns in place. After each replacement the search
// starts again with the first pattern of the table, and whatever stands in
// front of the chosen occurrence is copied unchanged, so an entity in front
// of an occurrence of an earlier table row is left as it is. The result is
// cut to size - 1 bytes and terminated. Throws CError -41 when the work
// buffer cannot be allocated.
void DecodeEntities(char* text, size_t size);
