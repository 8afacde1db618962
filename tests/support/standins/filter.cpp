// Stand-in for programs at either end of a pipe. Its arguments are done in
// order: --emit TEXT writes TEXT to standard output, --upper copies standard
// input to standard output in upper case until the input ends, --error TEXT
// writes TEXT to standard error.
#include <cctype>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--emit") == 0 && i + 1 < argc) {
            std::fputs(argv[++i], stdout);
        } else if (std::strcmp(argv[i], "--error") == 0 && i + 1 < argc) {
            std::fputs(argv[++i], stderr);
        } else if (std::strcmp(argv[i], "--upper") == 0) {
            int c;
            while ((c = std::getchar()) != EOF) std::putchar(std::toupper(c));
        }
    }
    std::fflush(stdout);
    std::fflush(stderr);
    return 0;
}
