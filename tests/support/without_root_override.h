#pragma once
// CI and developers run as root, where file permissions do not bind. Inside
// this scope the calling thread drops the capabilities that override them
// (DAC override, DAC read search, file owner), so a read-only file or a locked
// folder fails as it would for a user. Capabilities are per thread on Linux;
// the previous set is restored at the end of the scope.

#include <linux/capability.h>

class CWithoutRootOverride {
public:
    CWithoutRootOverride();
    ~CWithoutRootOverride();
    CWithoutRootOverride(const CWithoutRootOverride&) = delete;
    CWithoutRootOverride& operator=(const CWithoutRootOverride&) = delete;

private:
    __user_cap_data_struct saved_[2] = {};
    bool changed_ = false;
};
