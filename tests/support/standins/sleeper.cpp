// Stand-in for the processes the launcher terminates (copied by the tests to
// php.exe and ConEmu.exe): sleeps for the milliseconds given, a minute by
// default, and exits with 0.
#include <chrono>
#include <cstdlib>
#include <thread>

int main(int argc, char** argv) {
    long milliseconds = argc > 1 ? std::atol(argv[1]) : 60000;
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return 0;
}
