// Loaded into the application with LD_PRELOAD by the tests that time signals
// from the start of a run. When the libraries' initializers run, it writes one
// byte to the descriptor named by MOSSBRIDGE_START_NOTICE_FD. Before that the
// dynamic loader is still loading and linking some seventy libraries, for
// milliseconds in which no program's own code runs and a signal ends any
// process by its default action; the executable's pre-initializers come just
// before this one, the other libraries' initializers and main after it.

#include <stdlib.h>
#include <unistd.h>

__attribute__((constructor)) static void noticeStart(void) {
    const char* descriptor = getenv("MOSSBRIDGE_START_NOTICE_FD");
    if (descriptor) {
        const int fd = atoi(descriptor);
        if (write(fd, "s", 1) != 1) _exit(121);
        close(fd);
    }
    // Not for the programs the application starts in turn.
    unsetenv("MOSSBRIDGE_START_NOTICE_FD");
    unsetenv("LD_PRELOAD");
}
