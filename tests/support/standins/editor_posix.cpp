// Stand-in editor, POSIX build: records whether it leads a session of its
// own (a start detached from the terminal).
#include <time.h>
#include <unistd.h>

#include "editor_common.h"

int main(int argc, char** argv) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    const std::int64_t started = std::int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
    return run_editor(argc, argv,
                      started_fact(started) + "session_leader=" + (getsid(0) == getpid() ? "1" : "0") + "\n");
}
