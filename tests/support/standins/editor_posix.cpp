// Stand-in editor, POSIX build: records whether it leads a session of its
// own (a start detached from the terminal).
#include <unistd.h>

#include "editor_common.h"

int main(int argc, char** argv) {
    return run_editor(argc, argv, std::string("session_leader=") + (getsid(0) == getpid() ? "1" : "0") + "\n");
}
