// The entry point of the windowed program: no console at start, and no
// command line is read.
#include <windows.h>

#include "launcher/launch.h"
#include "runtime/runtime.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { quillgate::runtime_start(quillgate::launch_sequence); }
