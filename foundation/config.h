#pragma once
// Build configuration values with run-time overrides from the environment
// (MELODEX_ID_HOST, MELODEX_LYRICS_A_HOST, MELODEX_LYRICS_B_HOST,
// MELODEX_VERSION_URL, MELODEX_WEB_HOST, MELODEX_HOME_PAGE,
// MELODEX_FP_VENDOR_HOST), so tests and users can point the application at
// their own servers.

#include <string>

enum class EConfigKey { IdHost, LyricsAHost, LyricsBHost, VersionUrl, WebHost, HomePage, FpVendorHost };

std::string ConfigValue(EConfigKey key);
