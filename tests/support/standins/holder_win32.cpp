// Stand-in for a program that holds a file open for a moment without
// sharing its deletion, as indexers and virus scanners do: opens the file
// given, creates "<file>.held" once it holds it, and lets go after the
// milliseconds given.
#include <cstdlib>
#include <string>

#include <windows.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    HANDLE file = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 1;
    std::string marker = std::string(argv[1]) + ".held";
    HANDLE held = CreateFileA(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    Sleep(std::strtoul(argv[2], nullptr, 10));
    CloseHandle(file);
    return 0;
}
