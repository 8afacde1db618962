// The kit's lock on POSIX: an flock on the folder, opened read-only, so that
// no lock file is needed.
#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "launcher/kit_lock.h"

namespace quillgate {

namespace {

int held = -1;

} // namespace

int kit_lock_take(const char* kit_folder) {
    if (!kit_folder || !*kit_folder) return 1;
    int folder = ::open(kit_folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return 1;
    int taken;
    while ((taken = ::flock(folder, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {}
    if (taken != 0) {
        bool elsewhere = errno == EWOULDBLOCK;
        ::close(folder);
        return elsewhere ? 0 : 1;
    }
    kit_lock_release();
    held = folder;
    return 1;
}

void kit_lock_release() {
    if (held < 0) return;
    ::close(held);
    held = -1;
}

} // namespace quillgate
