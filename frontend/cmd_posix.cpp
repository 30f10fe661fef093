// The child process on POSIX: fork and execve with the Windows splitting of the command line, a
// session of its own (no controlling terminal), /dev/null as standard input and two pipes.
#include "cmd.h"
#include "cmd_p.h"

#include <QString>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace cmd_detail {

namespace {

constexpr size_t kReadChunk = 4096;
constexpr size_t kReadBudget = 256 * 1024; // per call of ReadAvailable
// Exit code reported for a child ended by a signal: outside 0..255, so it never looks like one of
// the tool's statuses.
constexpr std::uint32_t kSignalExitBase = 0x100;
constexpr int kSliceMs = 10;

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd &&o) noexcept : m_fd(o.Release()) {}
    Fd &operator=(Fd &&o) noexcept
    {
        if (this != &o) {
            Reset();
            m_fd = o.Release();
        }
        return *this;
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;

    int Get() const { return m_fd; }
    bool Valid() const { return m_fd >= 0; }
    int Release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void Reset()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd = -1;
};

bool MakePipe(Fd &readEnd, Fd &writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd = Fd(fds[0]);
    writeEnd = Fd(fds[1]);
    return true;
}

// The child's whole environment: SystemRoot as a Windows child has it, plus HOME and
// XDG_CONFIG_HOME, where the tool's COM device map lives, and what the caller adds.
std::vector<std::string> ChildEnvironment(const QList<QByteArray> &extra)
{
    std::vector<std::string> env{"SystemRoot=c:\\windows"};
    for (const char *name : {"HOME", "XDG_CONFIG_HOME"}) {
        if (const char *value = std::getenv(name))
            env.push_back(std::string(name) + "=" + value);
    }
    for (const QByteArray &entry : extra)
        env.push_back(entry.toStdString());
    return env;
}

long long NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

struct ChildProcess::Impl {
    pid_t pid = -1;
    bool reaped = false;
    bool statusLost = false;
    int status = 0;
    bool terminated = false;
    std::uint32_t terminatedCode = 0;
    Fd out;
    Fd err;
    QByteArray outBytes;
    QByteArray errBytes;

    bool Reap(bool block)
    {
        if (pid < 0 || reaped)
            return true;
        for (;;) {
            const pid_t r = ::waitpid(pid, &status, block ? 0 : WNOHANG);
            if (r == pid) {
                reaped = true;
                return true;
            }
            if (r == 0)
                return false;
            if (errno != EINTR) { // not our child any more: nothing left to wait for
                reaped = true;
                statusLost = true; // whatever it ended with is unknown, so it is no success
                return true;
            }
        }
    }

    // Reads what is there without blocking, at most kReadBudget bytes, so that a child that
    // writes without pause cannot keep the caller from its time-out; closes a pipe at its end.
    static void ReadAvailable(Fd &fd, QByteArray &into)
    {
        char chunk[kReadChunk];
        for (size_t taken = 0; taken < kReadBudget;) {
            const ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
            if (n > 0) {
                into.append(chunk, n);
                taken += static_cast<size_t>(n);
                continue;
            }
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            fd.Reset(); // end of the pipe, or a read that failed
            return;
        }
    }

    // Waits at most ms for output and takes in what arrives.
    void PollOnce(int ms)
    {
        pollfd fds[2];
        Fd *owners[2];
        QByteArray *buffers[2];
        nfds_t count = 0;
        if (out.Valid()) {
            fds[count] = {out.Get(), POLLIN, 0};
            owners[count] = &out;
            buffers[count++] = &outBytes;
        }
        if (err.Valid()) {
            fds[count] = {err.Get(), POLLIN, 0};
            owners[count] = &err;
            buffers[count++] = &errBytes;
        }
        const int ready = ::poll(count ? fds : nullptr, count, ms);
        if (ready <= 0)
            return;
        for (nfds_t k = 0; k < count; ++k) {
            if (fds[k].revents != 0)
                ReadAvailable(*owners[k], *buffers[k]);
        }
    }

    void KillSession()
    {
        if (pid < 0)
            return;
        // The child leads its own session and process group.
        if (::kill(-pid, SIGKILL) != 0 && !reaped)
            ::kill(pid, SIGKILL);
    }
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess()
{
    if (m_impl && m_impl->pid >= 0 && !m_impl->reaped) {
        m_impl->KillSession();
        m_impl->Reap(true);
    }
}

ChildProcess::ChildProcess(ChildProcess &&) noexcept = default;
ChildProcess &ChildProcess::operator=(ChildProcess &&) noexcept = default;

std::uint32_t ChildProcess::Start(const QByteArray &cmdLine)
{
    const std::vector<QByteArray> args = SplitCommandLine(cmdLine);
    if (args.empty() || args.front().isEmpty())
        return ENOENT;

    // A SIGCHLD that our own parent set to be ignored would have the system reap the child
    // unasked, and its exit status would be lost.
    struct sigaction chld;
    if (::sigaction(SIGCHLD, nullptr, &chld) == 0 && chld.sa_handler == SIG_IGN) {
        std::memset(&chld, 0, sizeof chld);
        chld.sa_handler = SIG_DFL;
        ::sigaction(SIGCHLD, &chld, nullptr);
    }

    // Everything the child needs is prepared before the fork: after it, the child only makes
    // async-signal-safe calls.
    std::vector<char *> argv;
    argv.reserve(args.size() + 1);
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = ChildEnvironment(m_extraEnvironment);
    std::vector<char *> envp;
    for (std::string &e : envStrings)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    Fd outRead, outWrite, errRead, errWrite, statusRead, statusWrite;
    if (!MakePipe(outRead, outWrite) || !MakePipe(errRead, errWrite) ||
        !MakePipe(statusRead, statusWrite))
        return static_cast<std::uint32_t>(errno);
    Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    if (!devNull.Valid())
        return static_cast<std::uint32_t>(errno);

    const pid_t pid = ::fork();
    if (pid < 0)
        return static_cast<std::uint32_t>(errno);
    if (pid == 0) {
        ::setsid();
        struct sigaction dfl;
        std::memset(&dfl, 0, sizeof dfl);
        dfl.sa_handler = SIG_DFL;
        ::sigaction(SIGPIPE, &dfl, nullptr);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (::dup2(devNull.Get(), STDIN_FILENO) >= 0 && ::dup2(outWrite.Get(), STDOUT_FILENO) >= 0 &&
            ::dup2(errWrite.Get(), STDERR_FILENO) >= 0)
            ::execve(argv[0], argv.data(), envp.data());
        const int error = errno;
        ssize_t ignored = ::write(statusWrite.Get(), &error, sizeof error);
        (void)ignored;
        ::_exit(127);
    }

    m_impl->pid = pid;
    outWrite.Reset();
    errWrite.Reset();
    statusWrite.Reset();
    devNull.Reset();

    // The status pipe closes on a successful exec; on a failed one it carries errno first.
    int execError = 0;
    ssize_t got;
    do {
        got = ::read(statusRead.Get(), &execError, sizeof execError);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof execError)) {
        m_impl->Reap(true);
        m_impl->pid = -1;
        return execError > 0 ? static_cast<std::uint32_t>(execError) : static_cast<std::uint32_t>(EIO);
    }

    ::fcntl(outRead.Get(), F_SETFL, ::fcntl(outRead.Get(), F_GETFL) | O_NONBLOCK);
    ::fcntl(errRead.Get(), F_SETFL, ::fcntl(errRead.Get(), F_GETFL) | O_NONBLOCK);
    m_impl->out = std::move(outRead);
    m_impl->err = std::move(errRead);
    return 0;
}

bool ChildProcess::WaitForEnd(int timeoutMs)
{
    const long long deadline = NowMs() + timeoutMs;
    for (;;) {
        if (m_impl->Reap(false))
            return true;
        const long long left = deadline - NowMs();
        if (left <= 0)
            return false;
        m_impl->PollOnce(static_cast<int>(std::min<long long>(left, kSliceMs)));
    }
}

bool ChildProcess::Drain(int timeoutMs)
{
    const long long deadline = NowMs() + timeoutMs;
    for (;;) {
        if (!m_impl->out.Valid() && !m_impl->err.Valid())
            return true;
        const long long left = deadline - NowMs();
        if (left <= 0)
            return false;
        m_impl->PollOnce(static_cast<int>(left));
    }
}

void ChildProcess::RequestStop()
{
    if (m_impl->pid < 0 || m_impl->reaped)
        return;
    if (::kill(-m_impl->pid, SIGTERM) != 0)
        ::kill(m_impl->pid, SIGTERM);
}

void ChildProcess::Terminate(std::uint32_t exitCode)
{
    m_impl->KillSession();
    m_impl->Reap(true);
    m_impl->terminated = true;
    m_impl->terminatedCode = exitCode;
}

void ChildProcess::KillDescendants()
{
    m_impl->KillSession();
}

std::uint32_t ChildProcess::ExitCode() const
{
    if (m_impl->terminated)
        return m_impl->terminatedCode;
    if (m_impl->statusLost)
        return kSignalExitBase;
    const int st = m_impl->status;
    if (WIFEXITED(st))
        return static_cast<std::uint32_t>(WEXITSTATUS(st));
    if (WIFSIGNALED(st))
        return kSignalExitBase + static_cast<std::uint32_t>(WTERMSIG(st));
    return kSignalExitBase;
}

const QByteArray &ChildProcess::Out() const { return m_impl->outBytes; }
const QByteArray &ChildProcess::Err() const { return m_impl->errBytes; }

} // namespace cmd_detail

QString SystemErrorText(std::uint32_t code)
{
    char buffer[256] = {};
    const char *text = ::strerror_r(static_cast<int>(code), buffer, sizeof buffer);
    QByteArray bytes(text);
    while (!bytes.isEmpty()) {
        const unsigned char last = static_cast<unsigned char>(bytes.back());
        if (last <= ' ' || last == '.' || last == 0x7F)
            bytes.chop(1);
        else
            break;
    }
    return QString::fromLocal8Bit(bytes);
}
