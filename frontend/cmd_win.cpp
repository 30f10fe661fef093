// The child process on Windows: CreateProcessA with a new hidden console, the one-variable
// environment block and two inheritable anonymous pipes. A child is asked to stop through its
// stop event, the manual-reset event "Local\cabrix-stop-<its process id>" that the console
// programs watch; whichever side creates it first, both hold the same event.
#include "cmd.h"
#include "cmd_p.h"

#include <QString>

#include <algorithm>
#include <cstring>
#include <string>

#include <windows.h>

namespace cmd_detail {

namespace {

constexpr DWORD kReadChunk = 4096;
constexpr DWORD kReadBudget = 256 * 1024; // per call of ReadAvailable
constexpr DWORD kSliceMs = 10;
constexpr size_t kEnvironmentSize = 101;

class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE h) : m_h(h) {}
    ~Handle() { Reset(); }
    Handle(Handle &&o) noexcept : m_h(o.m_h) { o.m_h = nullptr; }
    Handle &operator=(Handle &&o) noexcept
    {
        if (this != &o) {
            Reset();
            m_h = o.m_h;
            o.m_h = nullptr;
        }
        return *this;
    }
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    HANDLE Get() const { return m_h; }
    HANDLE *Out()
    {
        Reset();
        return &m_h;
    }
    bool Valid() const { return m_h != nullptr && m_h != INVALID_HANDLE_VALUE; }
    void Reset()
    {
        if (Valid())
            ::CloseHandle(m_h);
        m_h = nullptr;
    }

private:
    HANDLE m_h = nullptr;
};

} // namespace

struct ChildProcess::Impl {
    Handle process;
    Handle thread;
    Handle stopEvent;
    Handle out;
    Handle err;
    QByteArray outBytes;
    QByteArray errBytes;
    bool terminated = false;
    std::uint32_t terminatedCode = 0;

    // Reads what the pipe holds without blocking, at most kReadBudget bytes, so that a child that
    // writes without pause cannot keep the caller from its time-out; closes the pipe at its end.
    static void ReadAvailable(Handle &pipe, QByteArray &into)
    {
        for (DWORD taken = 0; pipe.Valid() && taken < kReadBudget;) {
            DWORD available = 0;
            if (!::PeekNamedPipe(pipe.Get(), nullptr, 0, nullptr, &available, nullptr)) {
                pipe.Reset(); // broken: every write end is closed
                return;
            }
            if (available == 0)
                return;
            char chunk[kReadChunk];
            DWORD got = 0;
            if (!::ReadFile(pipe.Get(), chunk, std::min(available, kReadChunk), &got, nullptr) ||
                got == 0) {
                pipe.Reset();
                return;
            }
            into.append(chunk, static_cast<qsizetype>(got));
            taken += got;
        }
    }

    void ReadBoth()
    {
        ReadAvailable(out, outBytes);
        ReadAvailable(err, errBytes);
    }
};

ChildProcess::ChildProcess() : m_impl(std::make_unique<Impl>()) {}

ChildProcess::~ChildProcess()
{
    if (m_impl && m_impl->process.Valid() &&
        ::WaitForSingleObject(m_impl->process.Get(), 0) == WAIT_TIMEOUT) {
        ::TerminateProcess(m_impl->process.Get(), 1);
        ::WaitForSingleObject(m_impl->process.Get(), INFINITE);
    }
}

ChildProcess::ChildProcess(ChildProcess &&) noexcept = default;
ChildProcess &ChildProcess::operator=(ChildProcess &&) noexcept = default;

std::uint32_t ChildProcess::Start(const QByteArray &cmdLine)
{
    SECURITY_ATTRIBUTES sa;
    std::memset(&sa, 0, sizeof sa);
    sa.nLength = sizeof sa;
    sa.bInheritHandle = TRUE;
    sa.lpSecurityDescriptor = nullptr;

    Handle outRead, outWrite, errRead, errWrite;
    if (!::CreatePipe(outRead.Out(), outWrite.Out(), &sa, 0) ||
        !::CreatePipe(errRead.Out(), errWrite.Out(), &sa, 0))
        return ::GetLastError();
    // The front end's read ends stay out of the child.
    ::SetHandleInformation(outRead.Get(), HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead.Get(), HANDLE_FLAG_INHERIT, 0);

    // SystemRoot, then what the caller adds (the request for progress reports), each entry ending
    // in a zero byte and the block in one more; an entry that does not fit is left out.
    char environment[kEnvironmentSize] = {};
    static const char kSystemRoot[] = "SystemRoot=c:\\windows";
    std::memcpy(environment, kSystemRoot, sizeof kSystemRoot);
    size_t used = sizeof kSystemRoot;
    for (const QByteArray &entry : m_extraEnvironment) {
        const size_t size = static_cast<size_t>(entry.size()) + 1;
        if (entry.contains('\0') || used + size + 1 > kEnvironmentSize)
            continue;
        std::memcpy(environment + used, entry.constData(), size);
        used += size;
    }

    STARTUPINFOA si;
    std::memset(&si, 0, sizeof si);
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_HIDE;
    si.hStdInput = nullptr;
    si.hStdOutput = outWrite.Get();
    si.hStdError = errWrite.Get();

    PROCESS_INFORMATION pi;
    std::memset(&pi, 0, sizeof pi);
    QByteArray mutableLine = cmdLine; // CreateProcessA may write into its command line
    if (!::CreateProcessA(nullptr, mutableLine.data(), nullptr, nullptr, TRUE,
                          CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, environment, nullptr, &si,
                          &pi))
        return ::GetLastError();

    m_impl->process = Handle(pi.hProcess);
    m_impl->thread = Handle(pi.hThread);
    const std::string stopName = "Local\\cabrix-stop-" + std::to_string(pi.dwProcessId);
    m_impl->stopEvent = Handle(::CreateEventA(nullptr, TRUE, FALSE, stopName.c_str()));
    outWrite.Reset();
    errWrite.Reset();
    m_impl->out = std::move(outRead);
    m_impl->err = std::move(errRead);
    return 0;
}

bool ChildProcess::WaitForEnd(int timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        m_impl->ReadBoth();
        const ULONGLONG now = ::GetTickCount64();
        const DWORD slice = now >= deadline ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, kSliceMs));
        if (::WaitForSingleObject(m_impl->process.Get(), slice) != WAIT_TIMEOUT)
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
    }
}

bool ChildProcess::Drain(int timeoutMs)
{
    const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    for (;;) {
        m_impl->ReadBoth();
        if (!m_impl->out.Valid() && !m_impl->err.Valid())
            return true;
        if (::GetTickCount64() >= deadline)
            return false;
        ::Sleep(kSliceMs);
    }
}

void ChildProcess::RequestStop()
{
    if (m_impl->stopEvent.Valid())
        ::SetEvent(m_impl->stopEvent.Get());
    else // without its event the child cannot be asked
        Terminate(1);
}

void ChildProcess::Terminate(std::uint32_t exitCode)
{
    ::TerminateProcess(m_impl->process.Get(), exitCode);
    ::WaitForSingleObject(m_impl->process.Get(), INFINITE);
    m_impl->terminated = true;
    m_impl->terminatedCode = exitCode;
}

void ChildProcess::KillDescendants()
{
    // Windows keeps no session to kill: descendants holding the pipes are left alone.
}

std::uint32_t ChildProcess::ExitCode() const
{
    if (m_impl->terminated)
        return m_impl->terminatedCode;
    DWORD code = 0;
    ::GetExitCodeProcess(m_impl->process.Get(), &code);
    return code;
}

const QByteArray &ChildProcess::Out() const { return m_impl->outBytes; }
const QByteArray &ChildProcess::Err() const { return m_impl->errBytes; }

} // namespace cmd_detail

QString SystemErrorText(std::uint32_t code)
{
    char buffer[256] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                         MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), buffer, sizeof buffer, nullptr);
    QByteArray bytes(buffer, static_cast<qsizetype>(std::min<DWORD>(length, sizeof buffer)));
    while (!bytes.isEmpty()) {
        const unsigned char last = static_cast<unsigned char>(bytes.back());
        if (last <= ' ' || last == '.' || last == 0x7F)
            bytes.chop(1);
        else
            break;
    }
    return QString::fromLocal8Bit(bytes);
}
