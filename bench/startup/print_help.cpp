// The floor of the --help row: a C++ program that prints a page of text and
// links nothing beyond the C++ runtime.
#include <cstdio>

int main() {
    for (int line = 0; line < 40; ++line)
        std::printf("  a line of help text, as long as the lines release-check prints\n");
    return 0;
}
