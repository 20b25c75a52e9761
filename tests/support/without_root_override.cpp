#include "support/without_root_override.h"

#include <sys/syscall.h>
#include <unistd.h>

namespace {

__user_cap_header_struct Header() {
    __user_cap_header_struct header{};
    header.version = _LINUX_CAPABILITY_VERSION_3;
    header.pid = 0;  // this thread
    return header;
}

}  // namespace

CWithoutRootOverride::CWithoutRootOverride() {
    auto header = Header();
    if (syscall(SYS_capget, &header, saved_) != 0) return;
    __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
    const unsigned mask = (1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH) | (1u << CAP_FOWNER);
    reduced[0].effective &= ~mask;
    header = Header();
    changed_ = syscall(SYS_capset, &header, reduced) == 0;
}

CWithoutRootOverride::~CWithoutRootOverride() {
    if (!changed_) return;
    auto header = Header();
    syscall(SYS_capset, &header, saved_);
}
