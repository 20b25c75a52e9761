#pragma once
// Sets (or, with a null value, unsets) an environment variable for one scope.
// Tests are single-threaded while they change the environment.

#include <optional>
#include <string>

class CScopedEnv {
public:
    CScopedEnv(const char* name, const char* value);
    ~CScopedEnv();
    CScopedEnv(const CScopedEnv&) = delete;
    CScopedEnv& operator=(const CScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> previous_;
};
