// File primitives on POSIX descriptors. A handle is the descriptor plus one,
// so that descriptor 0 stays distinct from "no handle".
//
// How the Windows-shaped arguments map here:
// - access: read only, write only, or both; O_CLOEXEC always, so child
//   programs never inherit a file the runtime opened.
// - disposition: CREATE_ALWAYS creates or empties, OPEN_ALWAYS creates when
//   missing, OPEN_EXISTING requires the file, TRUNCATE_EXISTING requires and
//   empties it. New files get mode 0666 less the umask. Other values fail.
// - share mode: ignored. POSIX has no mandatory share modes, and advisory
//   locks would bind only programs that ask for them, so an open file stays
//   open to everyone whatever the share value; "no sharing" is not enforced.
// - attributes: ignored.
#include <cerrno>
#include <cstdint>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// Positions past 2 GiB on 32-bit systems need the 64-bit offsets that the
// build asks for with _FILE_OFFSET_BITS.
static_assert(sizeof(off_t) == 8, "32-bit file offsets");

#include "runtime/platform/file_io.h"

namespace quillgate {

namespace {

int descriptor(os_handle handle) { return static_cast<int>(handle - 1); }

bool valid(os_handle handle) { return handle > 0 && handle <= static_cast<os_handle>(INT32_MAX); }

} // namespace

os_handle os_file_open(const char* path, std::uint32_t access, std::uint32_t /*share*/, std::uint32_t disposition,
                       std::uint32_t /*attributes*/) {
    if (path == nullptr || *path == '\0') return 0;
    int flags = O_CLOEXEC;
    bool reads = (access & OS_GENERIC_READ) != 0;
    bool writes = (access & OS_GENERIC_WRITE) != 0;
    if (reads && writes) {
        flags |= O_RDWR;
    } else if (writes) {
        flags |= O_WRONLY;
    } else {
        flags |= O_RDONLY;
    }
    switch (disposition) {
    case OS_CREATE_ALWAYS: flags |= O_CREAT | O_TRUNC; break;
    case OS_OPEN_ALWAYS: flags |= O_CREAT; break;
    case OS_OPEN_EXISTING: break;
    case OS_TRUNCATE_EXISTING: flags |= O_TRUNC; break;
    default: return 0;
    }
    // Emptying a file needs the right to write it, as on Windows.
    if ((flags & O_TRUNC) != 0 && !writes) return 0;
    int fd;
    do {
        fd = ::open(path, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return 0;
    // Windows opens no folders as files; refuse them here too.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return 0;
    }
    return static_cast<os_handle>(fd) + 1;
}

std::uint32_t os_file_read(os_handle handle, void* into, std::uint32_t size) {
    if (io_fault_hit() || !valid(handle)) return 0;
    if (size == 0) return 0;
    ssize_t got;
    do {
        got = ::read(descriptor(handle), into, size);
    } while (got < 0 && errno == EINTR);
    return got < 0 ? 0 : static_cast<std::uint32_t>(got);
}

std::uint32_t os_file_write(os_handle handle, const void* from, std::uint32_t size) {
    if (io_fault_hit() || !valid(handle)) return 0;
    // WriteFile on a file writes everything or fails; keep writing after a
    // short write so a signal or a pipe's capacity does not cut the text.
    const char* bytes = static_cast<const char*>(from);
    std::uint32_t done = 0;
    while (done < size) {
        ssize_t put = ::write(descriptor(handle), bytes + done, size - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (put == 0) break;
        done += static_cast<std::uint32_t>(put);
    }
    return done;
}

namespace {

// The new position after moving by `distance` from `method`'s origin, or -1.
std::int64_t move(os_handle handle, std::int64_t distance, std::uint32_t method) {
    int whence;
    switch (method) {
    case OS_SEEK_BEGIN: whence = SEEK_SET; break;
    case OS_SEEK_CURRENT: whence = SEEK_CUR; break;
    case OS_SEEK_END: whence = SEEK_END; break;
    default: return -1;
    }
    int fd = descriptor(handle);
    std::int64_t base = 0;
    if (whence != SEEK_SET) {
        off_t origin = ::lseek(fd, 0, whence);
        if (origin < 0) return -1;
        base = origin;
    }
    // Windows refuses a position before the start; so does this.
    if ((distance < 0 && base < -distance) || (distance > 0 && base > INT64_MAX - distance)) return -1;
    off_t now = ::lseek(fd, static_cast<off_t>(base + distance), SEEK_SET);
    return now < 0 ? -1 : static_cast<std::int64_t>(now);
}

} // namespace

std::uint32_t os_file_seek(os_handle handle, std::int32_t low, std::int32_t* high, std::uint32_t method) {
    if (io_fault_hit() || !valid(handle)) return OS_INVALID_SET_FILE_POINTER;
    // Without the high part the distance is the signed low half alone; with
    // it, the two halves make one signed 64-bit distance.
    std::int64_t distance = low;
    if (high != nullptr) {
        distance = static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(*high)) << 32) |
                                             static_cast<std::uint32_t>(low));
    } else {
        // A position beyond 32 bits cannot be reported without the high
        // part, so such a move fails before it is made.
        std::int64_t origin = 0;
        if (method == OS_SEEK_CURRENT) origin = move(handle, 0, OS_SEEK_CURRENT);
        if (method == OS_SEEK_END) origin = os_file_size(handle);
        if (origin < 0 || origin + distance > static_cast<std::int64_t>(UINT32_MAX)) {
            return OS_INVALID_SET_FILE_POINTER;
        }
    }
    std::int64_t now = move(handle, distance, method);
    if (now < 0) return OS_INVALID_SET_FILE_POINTER;
    auto position = static_cast<std::uint64_t>(now);
    if (high != nullptr) *high = static_cast<std::int32_t>(static_cast<std::uint32_t>(position >> 32));
    return static_cast<std::uint32_t>(position);
}

std::int64_t os_file_move(os_handle handle, std::int64_t distance, std::uint32_t method) {
    if (io_fault_hit() || !valid(handle)) return -1;
    return move(handle, distance, method);
}

bool os_file_set_end(os_handle handle) {
    if (io_fault_hit() || !valid(handle)) return false;
    int fd = descriptor(handle);
    off_t here = ::lseek(fd, 0, SEEK_CUR);
    if (here < 0) return false;
    int done;
    do {
        done = ::ftruncate(fd, here);
    } while (done != 0 && errno == EINTR);
    return done == 0;
}

bool os_file_close(os_handle handle) {
    if (!valid(handle)) return false;
    // The descriptor is gone after close() even when it reports EINTR.
    return ::close(descriptor(handle)) == 0;
}

std::int64_t os_file_size(os_handle handle) {
    if (!valid(handle)) return -1;
    struct stat info {};
    if (::fstat(descriptor(handle), &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

} // namespace quillgate
