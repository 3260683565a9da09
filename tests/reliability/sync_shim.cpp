// Preloaded into a child of the reliability harness: counts fsync and fdatasync calls from the
// moment the child arms it, and at the Nth stops the child right before or right after that sync
// so that the driver can kill it there. Stopping means telling the driver with the line "S" on
// the child's standard output and waiting for the kill.

#include <dlfcn.h>
#include <unistd.h>

namespace {

int armedAt = 0; // 0: not armed
bool stopAfter = false;
int syncs = 0;

using SyncFunction = int (*)(int);

int sync(const char* name, int fd) {
    static SyncFunction realFsync = reinterpret_cast<SyncFunction>(dlsym(RTLD_NEXT, "fsync"));
    static SyncFunction realFdatasync =
        reinterpret_cast<SyncFunction>(dlsym(RTLD_NEXT, "fdatasync"));
    const SyncFunction real = name[1] == 's' ? realFsync : realFdatasync;
    const bool stopHere = armedAt > 0 && ++syncs == armedAt;
    if (stopHere && !stopAfter) {
        (void)!write(1, "S\n", 2);
        for (;;)
            pause();
    }
    const int result = real(fd);
    if (stopHere) {
        (void)!write(1, "S\n", 2);
        for (;;)
            pause();
    }
    return result;
}

} // namespace

extern "C" {
__attribute__((visibility("default"))) int fsync(int fd) {
    return sync("fsync", fd);
}
__attribute__((visibility("default"))) int fdatasync(int fd) {
    return sync("fdatasync", fd);
}
__attribute__((visibility("default"))) void tarjetas_sync_arm(int n, int after) {
    armedAt = n;
    stopAfter = after != 0;
    syncs = 0;
}
__attribute__((visibility("default"))) int tarjetas_sync_count() {
    return syncs;
}
}
