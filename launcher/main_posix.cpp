// The native entry point. No command line is read.
#include "launcher/launch.h"
#include "runtime/runtime.h"

int main() { quillgate::runtime_start(quillgate::launch_sequence); }
