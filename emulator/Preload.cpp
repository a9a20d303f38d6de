#include "Preload.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#ifndef NSEMU_PRELOAD_LIBRARY
#define NSEMU_PRELOAD_LIBRARY "libumockdev-preload.so.0"
#endif

namespace nsemu {

bool isPreloaded()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libumockdev-preload") != std::string::npos)
            return true;
    }
    return false;
}

void ensurePreloaded(int, char** argv)
{
    if (isPreloaded()) {
        unsetenv("NSEMU_REEXECUTED");
        return;
    }
    // Guard against a loop should the loader refuse the library.
    if (std::getenv("NSEMU_REEXECUTED")) {
        std::fprintf(stderr, "%s: %s did not load; check LD_PRELOAD\n", argv[0], NSEMU_PRELOAD_LIBRARY);
        std::exit(2);
    }
    std::string preload = NSEMU_PRELOAD_LIBRARY;
    if (const char* existing = std::getenv("LD_PRELOAD"))
        preload += std::string(":") + existing;
    setenv("LD_PRELOAD", preload.c_str(), 1);
    setenv("NSEMU_REEXECUTED", "1", 1);
    execv("/proc/self/exe", argv);
    std::fprintf(stderr, "%s: cannot re-execute with LD_PRELOAD=%s (%s); start it with that preload, "
                 "e.g. qemu-i386 -E LD_PRELOAD=%s %s\n",
                 argv[0], NSEMU_PRELOAD_LIBRARY, std::strerror(errno), NSEMU_PRELOAD_LIBRARY, argv[0]);
    std::exit(2);
}

}  // namespace nsemu
