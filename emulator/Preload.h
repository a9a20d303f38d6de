// The umockdev preload library has to be in the process from its start:
// it redirects /sys and /dev and forwards device-node ioctls to us.
#pragma once

namespace nsemu {

bool isPreloaded();

// Call first thing in main(). Without the preload, re-executes the
// program with LD_PRELOAD set (the library path is fixed at build time);
// if that is impossible (e.g. under qemu-user), prints how to start the
// program and exits with status 2.
void ensurePreloaded(int argc, char** argv);

}  // namespace nsemu
