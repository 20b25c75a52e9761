#pragma once
// A minimal ustar archive built in memory, so tests need no archive tool.

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

inline std::string TarBytes(const std::vector<std::pair<std::string, std::string>>& files) {
    std::string out;
    for (const auto& [name, body] : files) {
        char header[512] = {};
        std::snprintf(header, 100, "%s", name.c_str());
        std::snprintf(header + 100, 8, "%07o", 0644);
        std::snprintf(header + 108, 8, "%07o", 0);
        std::snprintf(header + 116, 8, "%07o", 0);
        std::snprintf(header + 124, 12, "%011o", static_cast<unsigned>(body.size()));
        std::snprintf(header + 136, 12, "%011o", 0);
        header[156] = '0';
        std::memcpy(header + 257, "ustar", 6);
        std::memcpy(header + 263, "00", 2);
        std::memset(header + 148, ' ', 8);
        unsigned sum = 0;
        for (unsigned char c : header) sum += c;
        std::snprintf(header + 148, 8, "%06o", sum);
        out.append(header, sizeof header);
        out += body;
        out.append((512 - body.size() % 512) % 512, '\0');
    }
    out.append(1024, '\0');
    return out;
}
