#include "foundation/config.h"

#include <cstdlib>

#include "build_config.h"

std::string ConfigValue(EConfigKey key) {
    struct Row {
        const char* env;
        const char* fallback;
    };
    static constexpr Row kRows[] = {
        {"MELODEX_ID_HOST", MELODEX_DEFAULT_ID_HOST},
        {"MELODEX_LYRICS_A_HOST", MELODEX_DEFAULT_LYRICS_A_HOST},
        {"MELODEX_LYRICS_B_HOST", MELODEX_DEFAULT_LYRICS_B_HOST},
        {"MELODEX_VERSION_URL", MELODEX_DEFAULT_VERSION_URL},
        {"MELODEX_WEB_HOST", MELODEX_DEFAULT_WEB_HOST},
        {"MELODEX_HOME_PAGE", MELODEX_DEFAULT_HOME_PAGE},
        {"MELODEX_FP_VENDOR_HOST", MELODEX_DEFAULT_FP_VENDOR_HOST},
    };
    const Row& row = kRows[static_cast<int>(key)];
    const char* value = std::getenv(row.env);
    return value && *value ? value : row.fallback;
}
