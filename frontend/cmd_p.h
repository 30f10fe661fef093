// The child process behind RunAndCapture: one class, one implementation per operating system
// (cmd_posix.cpp, cmd_win.cpp). Not part of the unit's public interface.
#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <memory>

namespace cmd_detail {

// One started child with its two output pipes. Move-only; the destructor kills a child that is
// still running, waits for it and closes every handle.
class ChildProcess {
public:
    ChildProcess();
    ~ChildProcess();
    ChildProcess(ChildProcess &&) noexcept;
    ChildProcess &operator=(ChildProcess &&) noexcept;
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Starts the command line hidden, with no standard input, the front end's child environment and
    // standard output / standard error on two pipes. Returns 0, or the system error code when the
    // program could not be started.
    std::uint32_t Start(const QByteArray &cmdLine);

    // Entries (NAME=value) that Start adds to the child's environment.
    void SetExtraEnvironment(const QList<QByteArray> &entries) { m_extraEnvironment = entries; }

    // Waits at most timeoutMs for the child to end, collecting its output meanwhile. True once it
    // has ended.
    bool WaitForEnd(int timeoutMs);

    // Collects output for at most timeoutMs. True once both pipes have reached their end.
    bool Drain(int timeoutMs);

    // Asks the child to end by itself, so that it can remove its temporary file and close its port
    // and socket: on POSIX SIGTERM to its session, on Windows the child's stop event. Returns at
    // once; WaitForEnd tells when it has ended.
    void RequestStop();

    // Kills the child (and whatever it started in its own session) and records exitCode as its exit
    // code.
    void Terminate(std::uint32_t exitCode);

    // Kills whatever still runs in the child's session (the child itself has ended) so that pipes
    // held by its descendants close; the exit code is left as it is.
    void KillDescendants();

    std::uint32_t ExitCode() const;
    const QByteArray &Out() const;
    const QByteArray &Err() const;

private:
    QList<QByteArray> m_extraEnvironment;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace cmd_detail
