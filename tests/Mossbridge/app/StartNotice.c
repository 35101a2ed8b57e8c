// Loaded into the application with LD_PRELOAD by the tests that time signals
// from the start of a run. Its initializer writes one byte to the descriptor
// named by MOSSBRIDGE_START_NOTICE_FD. A preloaded library comes first in the
// loader's search order, and the loader runs the libraries' initializers in
// the reverse of that order, each after those of the libraries it needs: this
// one runs last of the seventy-odd, just before the loader hands over to the
// executable, whose own initializers (its static objects) and then main follow.
// The executable's pre-initializers, which block the termination signals, ran
// before every library's initializer. Before them the dynamic loader is still
// loading and linking the libraries, for milliseconds in which no program's
// own code runs and a signal ends any process by its default action.

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
