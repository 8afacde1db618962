// Stand-in for programs at either end of a pipe. Its arguments are done in
// order: --emit TEXT writes TEXT to standard output, --upper copies standard
// input to standard output in upper case until the input ends, --error TEXT
// writes TEXT to standard error.
#include <cctype>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--upper") {
            for (int c; (c = std::getchar()) != EOF;) std::putchar(std::toupper(c));
        } else if (i + 1 < argc) {
            std::fputs(argv[++i], option == "--error" ? stderr : stdout);
        }
    }
    return 0;
}
