#include "cmd.h"

#include "cmd_p.h"

#include <QCoreApplication>

namespace {

constexpr int kPollMs = 100;
// After a kill the pipes close at once; this only bounds a pathological wait for their end.
constexpr int kDrainAfterKillMs = 1000;

void DispatchWindowEvents()
{
    if (QCoreApplication::instance() != nullptr)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Ends a child the runner gives up on: politely first, so that it can clean up after itself, and
// outright once the grace has passed. Its output keeps being read and window events dispatched
// meanwhile.
void StopChild(cmd_detail::ChildProcess &child)
{
    child.RequestStop();
    for (int waited = 0; waited < kStopGraceMs; waited += kPollMs) {
        if (child.WaitForEnd(kPollMs))
            break;
        DispatchWindowEvents();
    }
    // Also ends whatever the child left running in its session.
    child.Terminate(1);
}

// Hands the lines of standard error to the caller's watch as they arrive: each line once it has
// its line end, the last one also without when the child has ended. Empty lines are passed over;
// the text ends at its first zero byte, as for SplitLines.
class ErrLineFeed {
public:
    explicit ErrLineFeed(const ErrLineWatch &watch) : m_watch(watch) {}

    // True when the watch took one of the new lines as headway.
    bool Feed(const QByteArray &err, bool childEnded)
    {
        if (!m_watch || m_ended)
            return false;
        bool headway = false;
        while (m_pos < err.size()) {
            qsizetype end = m_pos;
            while (end < err.size() && err[end] != '\r' && err[end] != '\n' && err[end] != '\0')
                ++end;
            if (end == err.size() && !childEnded)
                break; // the line is not whole yet
            if (end > m_pos && m_watch(err.mid(m_pos, end - m_pos)))
                headway = true;
            if (end < err.size() && err[end] == '\0') {
                m_ended = true;
                break;
            }
            m_pos = end + 1;
        }
        return headway;
    }

private:
    const ErrLineWatch &m_watch;
    qsizetype m_pos = 0;
    bool m_ended = false;
};

} // namespace

ByteLines SplitLines(const QByteArray &bytes)
{
    ByteLines lines;
    qsizetype end = bytes.indexOf('\0');
    if (end < 0)
        end = bytes.size();
    QByteArray line;
    bool pending = false; // characters seen since the last line end
    for (qsizetype i = 0; i < end; ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.append(line);
            line.clear();
            pending = false;
            if (c == '\r' && i + 1 < end && bytes[i + 1] == '\n')
                ++i;
        } else {
            line.append(c);
            pending = true;
        }
    }
    if (pending)
        lines.append(line);
    return lines;
}

std::vector<QByteArray> SplitCommandLine(const QByteArray &cmdLine)
{
    std::vector<QByteArray> args;
    const qsizetype n = cmdLine.size();
    qsizetype i = 0;
    auto isBlank = [&](qsizetype k) { return cmdLine[k] == ' ' || cmdLine[k] == '\t'; };

    // The program's path: quotes only delimit it, backslashes are plain characters.
    while (i < n && isBlank(i))
        ++i;
    if (i == n)
        return args;
    QByteArray program;
    if (cmdLine[i] == '"') {
        ++i;
        while (i < n && cmdLine[i] != '"')
            program.append(cmdLine[i++]);
        if (i < n)
            ++i;
    } else {
        while (i < n && !isBlank(i))
            program.append(cmdLine[i++]);
    }
    args.push_back(program);

    QByteArray arg;
    bool inArg = false;
    bool inQuotes = false;
    while (i < n) {
        const char c = cmdLine[i];
        if (c == '\\') {
            qsizetype run = 0;
            while (i < n && cmdLine[i] == '\\') {
                ++run;
                ++i;
            }
            inArg = true;
            if (i < n && cmdLine[i] == '"') {
                arg.append(QByteArray(run / 2, '\\'));
                if (run % 2 == 1) {
                    arg.append('"');
                    ++i;
                }
                // An even run leaves the quote to act as a quote.
            } else {
                arg.append(QByteArray(run, '\\'));
            }
        } else if (c == '"') {
            inArg = true;
            if (inQuotes && i + 1 < n && cmdLine[i + 1] == '"') {
                arg.append('"');
                inQuotes = false;
                i += 2;
            } else {
                inQuotes = !inQuotes;
                ++i;
            }
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (inArg)
                args.push_back(arg);
            arg.clear();
            inArg = false;
            ++i;
        } else {
            arg.append(c);
            inArg = true;
            ++i;
        }
    }
    if (inArg)
        args.push_back(arg);
    return args;
}

std::int32_t RunAndCapture(const QByteArray &cmdLine, std::uint32_t timeoutSec, ByteLines &outLines,
                           ByteLines &errLines, std::uint32_t &exitCode, const TRunControl &control)
{
    std::int32_t result = 0;
    cmd_detail::ChildProcess child;
    child.SetExtraEnvironment(control.Environment);
    if (const std::uint32_t error = child.Start(cmdLine); error != 0)
        return static_cast<std::int32_t>(error);

    // The counter counts polls, not wall-clock time: dispatching events is not counted. A sign of
    // headway from the child starts it again.
    ErrLineFeed errFeed(control.ErrLine);
    const long long limitMs = static_cast<long long>(timeoutSec) * 1000;
    long long elapsedMs = 0;
    for (;;) {
        if (child.WaitForEnd(kPollMs))
            break;
        if (errFeed.Feed(child.Err(), false))
            elapsedMs = 0;
        DispatchWindowEvents();
        elapsedMs += kPollMs;
        if (control.StopRequested && control.StopRequested()) {
            StopChild(child);
            result = kRunStopped;
            break;
        }
        if (elapsedMs > limitMs) {
            StopChild(child);
            result = kRunTimedOut;
            break;
        }
    }

    // Both pipes are read to their end. Something the child started may still hold them after the
    // child itself has ended: the rest of the time-out bounds that wait, then it is killed.
    if (result != 0) {
        for (int waited = 0; !child.Drain(kPollMs) && waited < kDrainAfterKillMs; waited += kPollMs)
            DispatchWindowEvents();
    } else {
        while (!child.Drain(kPollMs)) {
            DispatchWindowEvents();
            elapsedMs += kPollMs;
            if (elapsedMs > limitMs) {
                child.KillDescendants();
                child.Drain(kDrainAfterKillMs);
                break;
            }
        }
    }
    errFeed.Feed(child.Err(), true);

    outLines = SplitLines(child.Out());
    errLines = SplitLines(child.Err());
    exitCode = child.ExitCode();
    return result;
}
