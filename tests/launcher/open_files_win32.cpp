#include <windows.h>

#include "tests/launcher/open_files.h"

namespace quillgate::testing {

// Windows names no process's handles to others; but any handle open on the
// file, without leave to share, makes an exclusive open fail. The tests ask
// while the only other user of the kit is the program in question.
bool program_holds_open(const program_object*, const std::filesystem::path& file) {
    HANDLE handle = CreateFileA(file.string().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(handle);
    return false;
}

} // namespace quillgate::testing
