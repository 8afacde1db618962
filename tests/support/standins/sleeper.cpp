// Stand-in for the processes the launcher terminates (copied by the tests to
// php.exe and ConEmu.exe): sleeps for a minute and exits with 0.
#include <chrono>
#include <thread>

int main() {
    std::this_thread::sleep_for(std::chrono::minutes(1));
    return 0;
}
