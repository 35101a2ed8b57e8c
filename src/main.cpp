// The Mossbridge executable.
#include <cstdio>

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    std::puts("Mossbridge: the application shell is not assembled yet.");
    return 0;
}
