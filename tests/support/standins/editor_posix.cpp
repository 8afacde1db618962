// Stand-in editor, POSIX build: records whether it leads a session of its
// own (a start detached from the terminal).
#include <climits>
#include <string>

#include <unistd.h>

#include "editor_common.h"

int main(int argc, char** argv) {
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string self_path = length > 0 ? std::string(self, static_cast<std::size_t>(length)) : argv[0];
    std::string facts = std::string("session_leader=") + (getsid(0) == getpid() ? "1" : "0") + "\n";
    return standin::run_editor(argc, argv, self_path, facts);
}
