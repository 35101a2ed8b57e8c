#include "platform/core/Process.h"

#include "platform/core/Clock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

extern char** environ;

namespace platform {

namespace {

using Nanos = std::uint64_t;

constexpr std::size_t kReadChunk = 64 * 1024;
// Upper bound of one read burst, so a child that floods a pipe cannot keep
// the loop from noticing its deadline.
constexpr std::size_t kReadBurst = 1024 * 1024;
// Poll interval when the kernel offers no process descriptor to wait on.
constexpr int kFallbackPollMillis = 10;
constexpr Nanos kNoDeadline = UINT64_MAX;

Nanos monotonicNow() { return systemClock().monotonicNanos(); }

Nanos durationNanos(double seconds) {
    if (!(seconds > 0)) return 0;             // negative and NaN: no time at all
    if (seconds > 1e9) return UINT64_MAX / 4;  // effectively never
    return static_cast<Nanos>(seconds * 1e9);
}

// A descriptor that becomes readable when the child ends (-1 where the
// kernel lacks it). Called through syscall(): the C library's own header
// for it is not usable from C++ on every system.
int openProcessDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
    return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
    (void)pid;
    return -1;
#endif
}

std::string errnoText(int error) {
    const char* text = strerrordesc_np(error);
    return text ? text : "Unknown error " + std::to_string(error);
}

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(int fd) : fd_(fd) {}
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept {
        if (this != &other) {
            reset();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() { reset(); }

    int get() const { return fd_; }
    bool isOpen() const { return fd_ >= 0; }
    void reset() {
        if (fd_ >= 0) ::close(fd_);  // never retried: Linux closes even on EINTR
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

struct Pipe {
    FileDescriptor readEnd;
    FileDescriptor writeEnd;
};

// Keeps a descriptor clear of 0, 1 and 2, so that wiring the child's
// standard descriptors can never overwrite another pipe end (this happens
// when the parent runs with one of its own standard descriptors closed).
[[nodiscard]] bool moveAboveStandardDescriptors(FileDescriptor& fd) {
    if (fd.get() > STDERR_FILENO) return true;
    const int moved = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) return false;
    fd = FileDescriptor(moved);
    return true;
}

// Both ends are close-on-exec, so a child spawned by another thread at the
// same moment never inherits them.
std::optional<Pipe> makePipe(std::string& error) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        error = "Could not create a pipe: " + errnoText(errno) + ".";
        return std::nullopt;
    }
    Pipe pipe{FileDescriptor(fds[0]), FileDescriptor(fds[1])};
    if (!moveAboveStandardDescriptors(pipe.readEnd) || !moveAboveStandardDescriptors(pipe.writeEnd)) {
        error = "Could not create a pipe: " + errnoText(errno) + ".";
        return std::nullopt;
    }
    return pipe;
}

void setNonBlocking(const FileDescriptor& fd) {
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK);
}

// Writing to a child that stopped reading raises SIGPIPE, which would end the
// whole application. SIGPIPE is blocked in this thread only while the child
// runs; a SIGPIPE our own writes left pending is consumed before unblocking.
class ScopedSigpipeBlock {
public:
    ScopedSigpipeBlock() {
        sigemptyset(&sigpipe_);
        sigaddset(&sigpipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &sigpipe_, &previousMask_);
        wasPending_ = isPending();
    }
    ~ScopedSigpipeBlock() {
        if (!wasPending_ && isPending()) {
            const timespec noWait{};
            while (sigtimedwait(&sigpipe_, nullptr, &noWait) < 0 && errno == EINTR) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    ScopedSigpipeBlock(const ScopedSigpipeBlock&) = delete;
    ScopedSigpipeBlock& operator=(const ScopedSigpipeBlock&) = delete;

private:
    bool isPending() const {
        sigset_t pending;
        sigemptyset(&pending);
        sigpending(&pending);
        return sigismember(&pending, SIGPIPE) == 1;
    }

    sigset_t sigpipe_;
    sigset_t previousMask_;
    bool wasPending_ = false;
};

std::string lastPathComponent(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string launchFailureDescription(int error, const std::string& path) {
    const std::string quoted = "\u201c" + lastPathComponent(path) + "\u201d";
    switch (error) {
    case ENOENT:
    case ENOTDIR:
        return "The file " + quoted + " doesn\u2019t exist.";
    case EACCES:
    case EPERM:
        return "The file " + quoted + " couldn\u2019t be opened because you don\u2019t have permission to view it.";
    default:
        return "The file " + quoted + " couldn\u2019t be run: " + errnoText(error) + ".";
    }
}

std::optional<std::string> requestProblem(const ProcessRequest& request) {
    if (request.executablePath.empty() || request.executablePath.front() != '/')
        return "The path \u201c" + request.executablePath + "\u201d is not absolute.";
    auto hasNul = [](const std::string& s) { return s.find('\0') != std::string::npos; };
    if (hasNul(request.executablePath) || std::any_of(request.arguments.begin(), request.arguments.end(), hasNul))
        return std::string("An argument contains a NUL byte.");
    return std::nullopt;
}

// The child's side of the spawn: its standard descriptors, nothing else
// inherited, default signal dispositions and mask, and a process group of
// its own so that a time-out reaches whatever it started.
class SpawnAttributes {
public:
    SpawnAttributes() {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t all;
        sigfillset(&all);
        sigdelset(&all, SIGKILL);
        sigdelset(&all, SIGSTOP);
        posix_spawnattr_setsigdefault(&attributes_, &all);
        posix_spawnattr_setpgroup(&attributes_, 0);
        posix_spawnattr_setflags(&attributes_,
                                 POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    }
    ~SpawnAttributes() {
        posix_spawn_file_actions_destroy(&actions_);
        posix_spawnattr_destroy(&attributes_);
    }
    SpawnAttributes(const SpawnAttributes&) = delete;
    SpawnAttributes& operator=(const SpawnAttributes&) = delete;

    int wire(const FileDescriptor* input, const FileDescriptor& output, const FileDescriptor& error) {
        int rc = input ? posix_spawn_file_actions_adddup2(&actions_, input->get(), STDIN_FILENO)
                       : posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, output.get(), STDOUT_FILENO);
        if (rc == 0) rc = posix_spawn_file_actions_adddup2(&actions_, error.get(), STDERR_FILENO);
        if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions_, STDERR_FILENO + 1);
        return rc;
    }

    int spawn(pid_t& pid, const ProcessRequest& request) const {
        std::vector<char*> argv;
        argv.reserve(request.arguments.size() + 2);
        argv.push_back(const_cast<char*>(request.executablePath.c_str()));
        for (const auto& argument : request.arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        return posix_spawn(&pid, request.executablePath.c_str(), &actions_, &attributes_, argv.data(), environ);
    }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

// A started child with the parent's ends of its pipes. Moves bytes in both
// directions until the child ends, and reaps it.
class RunningChild {
public:
    RunningChild(pid_t pid, FileDescriptor output, FileDescriptor error, FileDescriptor input,
                 const std::string* inputBytes, ProcessResult& result)
        : pid_(pid),
          processFd_(openProcessDescriptor(pid)),
          output_(std::move(output)),
          error_(std::move(error)),
          input_(std::move(input)),
          inputBytes_(inputBytes),
          result_(result) {
        setNonBlocking(output_);
        setNonBlocking(error_);
        if (input_.isOpen()) {
            setNonBlocking(input_);
            if (inputBytes_ == nullptr || inputBytes_->empty()) input_.reset();
        }
    }

    // Moves bytes until the child has ended (then reaps it and returns true)
    // or the deadline passes (returns false).
    bool runUntil(Nanos deadline) {
        while (!tryReap()) {
            const Nanos now = monotonicNow();
            if (now >= deadline) return false;
            pollOnce(deadline - now);
        }
        return true;
    }

    // Signals the child's process group; the child alone if that fails.
    void signal(int signalNumber) const {
        if (::kill(-pid_, signalNumber) != 0) ::kill(pid_, signalNumber);
    }

    void reapBlocking() {
        int status = 0;
        pid_t rc;
        while ((rc = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
        }
        recordWait(rc, status);
    }

    // Collects what is already in the pipes once the child has ended, without
    // waiting for end-of-file: a grandchild may still hold the write ends.
    // One burst holds more than a pipe buffer, so nothing the child wrote is lost.
    void collectRemaining() {
        readAvailable(output_, result_.standardOutput, kNoDeadline);
        readAvailable(error_, result_.standardError, kNoDeadline);
    }

private:
    bool tryReap() {
        if (reaped_) return true;
        int status = 0;
        pid_t rc;
        while ((rc = ::waitpid(pid_, &status, WNOHANG)) < 0 && errno == EINTR) {
        }
        if (rc == 0) return false;
        recordWait(rc, status);
        return true;
    }

    void recordWait(pid_t rc, int status) {
        reaped_ = true;
        if (rc < 0) {  // reaped by someone else (SIGCHLD ignored): status unknown
            result_.exitStatus = -1;
            return;
        }
        if (WIFSIGNALED(status)) {
            result_.terminatingSignal = WTERMSIG(status);
        } else if (WIFEXITED(status)) {
            result_.exitStatus = WEXITSTATUS(status);
        }
    }

    void pollOnce(Nanos remaining) {
        pollfd fds[4];
        nfds_t count = 0;
        auto add = [&](const FileDescriptor& fd, short events) {
            if (fd.isOpen()) fds[count++] = pollfd{fd.get(), events, 0};
        };
        add(output_, POLLIN);
        add(error_, POLLIN);
        add(input_, POLLOUT);
        add(processFd_, POLLIN);

        const Nanos millis = (remaining + 999999) / 1000000;
        int timeout = static_cast<int>(std::min<Nanos>(millis, INT_MAX));
        if (!processFd_.isOpen()) timeout = std::min(timeout, kFallbackPollMillis);
        if (::poll(fds, count, timeout) <= 0) return;  // time-out, EINTR: the caller loops

        const Nanos burstDeadline = monotonicNow() + remaining;
        for (nfds_t i = 0; i < count; ++i) {
            if (fds[i].revents == 0) continue;
            if (fds[i].fd == output_.get()) readAvailable(output_, result_.standardOutput, burstDeadline);
            else if (fds[i].fd == error_.get()) readAvailable(error_, result_.standardError, burstDeadline);
            else if (fds[i].fd == input_.get()) writeSome();
        }
    }

    // Reads until the pipe is empty, closed, the burst limit is reached or
    // the deadline passes.
    void readAvailable(FileDescriptor& fd, std::string& sink, Nanos deadline) {
        char buffer[kReadChunk];
        std::size_t burst = 0;
        while (fd.isOpen() && burst < kReadBurst) {
            const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n > 0) {
                sink.append(buffer, static_cast<std::size_t>(n));
                burst += static_cast<std::size_t>(n);
                if (monotonicNow() >= deadline) return;
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                fd.reset();  // end of file or a broken pipe
            }
        }
    }

    void writeSome() {
        while (input_.isOpen()) {
            const std::size_t left = inputBytes_->size() - inputOffset_;
            const ssize_t n = ::write(input_.get(), inputBytes_->data() + inputOffset_, std::min(left, kReadChunk));
            if (n > 0) {
                inputOffset_ += static_cast<std::size_t>(n);
                if (inputOffset_ == inputBytes_->size()) input_.reset();  // end of input for the child
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return;
            } else {
                input_.reset();  // the child closed its input (EPIPE): the rest is dropped
            }
        }
    }

    pid_t pid_;
    FileDescriptor processFd_;  // readable once the child ends; may be absent
    FileDescriptor output_;
    FileDescriptor error_;
    FileDescriptor input_;
    const std::string* inputBytes_;
    std::size_t inputOffset_ = 0;
    bool reaped_ = false;
    ProcessResult& result_;
};

ProcessResult failure(std::string description) {
    ProcessResult result;
    result.outcome = ProcessOutcome::FailedToStart;
    result.errorDescription = std::move(description);
    return result;
}

}  // namespace

int ProcessResult::terminationStatus() const {
    return terminatingSignal != 0 ? terminatingSignal : exitStatus;
}

ProcessResult runProcess(const ProcessRequest& request) {
    if (auto problem = requestProblem(request)) return failure(*problem);

    std::string pipeError;
    auto output = makePipe(pipeError);
    auto error = output ? makePipe(pipeError) : std::nullopt;
    std::optional<Pipe> input;
    if (error && request.standardInput) input = makePipe(pipeError);
    if (!output || !error || (request.standardInput && !input)) return failure(pipeError);

    ScopedSigpipeBlock sigpipeBlock;

    SpawnAttributes spawnAttributes;
    pid_t pid = 0;
    int rc = spawnAttributes.wire(input ? &input->readEnd : nullptr, output->writeEnd, error->writeEnd);
    if (rc == 0) rc = spawnAttributes.spawn(pid, request);
    if (rc != 0) return failure(launchFailureDescription(rc, request.executablePath));

    const Nanos launchedAt = monotonicNow();
    // The child holds its own copies now; ours must go, or end-of-file never comes.
    output->writeEnd.reset();
    error->writeEnd.reset();
    if (input) input->readEnd.reset();

    ProcessResult result;
    result.processIdentifier = pid;
    RunningChild child(pid, std::move(output->readEnd), std::move(error->readEnd),
                       input ? std::move(input->writeEnd) : FileDescriptor(),
                       request.standardInput ? &*request.standardInput : nullptr, result);

    const Nanos deadline = launchedAt + durationNanos(request.timeoutSeconds);
    bool timedOut = false;
    if (!child.runUntil(deadline)) {
        timedOut = true;
        child.signal(SIGTERM);
        if (!child.runUntil(monotonicNow() + durationNanos(request.terminationGraceSeconds))) {
            child.signal(SIGKILL);
            child.reapBlocking();
        }
    }
    child.collectRemaining();

    if (timedOut) result.outcome = ProcessOutcome::TimedOut;
    else if (result.terminatingSignal != 0) result.outcome = ProcessOutcome::Signaled;
    else result.outcome = ProcessOutcome::Exited;
    return result;
}

}  // namespace platform
