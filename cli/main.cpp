// melodex-cli: command-line front end over the Melodex core.
#include <cstdio>
#include <cstring>

static void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "usage: melodex-cli [--prefs-dir DIR] [--json] COMMAND [ARGS]\n"
                 "Melodex %s, MP3 tag manager: command-line front end.\n",
                 MELODEX_VERSION);
}

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        PrintUsage(argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::fprintf(stderr, "melodex-cli: unknown command '%s'\n", argv[1]);
    PrintUsage(stderr);
    return 2;
}
