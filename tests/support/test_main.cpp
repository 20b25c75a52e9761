#include <gtest/gtest.h>

// Sanitizer settings built into every test program, so a test binary run by
// hand behaves as under ctest: the allocator tests need allocations that
// cannot be served to fail softly instead of aborting the program.
extern "C" __attribute__((used, visibility("default"))) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" __attribute__((used, visibility("default"))) const char* __tsan_default_options() {
    return "halt_on_error=1:allocator_may_return_null=1";
}
extern "C" __attribute__((used, visibility("default"))) const char* __ubsan_default_options() {
    return "print_stacktrace=1";
}

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
