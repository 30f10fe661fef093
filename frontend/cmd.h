// Unit cmd: runs one console command line as a hidden child process with a time-out and captures
// what it writes to standard output and standard error as lines of text.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <functional>
#include <vector>

// The captured lines: the child's bytes one for one, with no code-page conversion.
using ByteLines = QList<QByteArray>;

// Asked between two polls of a run: true ends the run (see RunAndCapture).
using StopCheck = std::function<bool()>;

// Given each line of the child's standard error as it arrives; true when the line was a sign
// that the child makes headway, which starts its time-out again.
using ErrLineWatch = std::function<bool(const QByteArray &Line)>;

// What a caller may add to a run besides its time-out.
struct TRunControl {
    StopCheck StopRequested;
    ErrLineWatch ErrLine;
    // Entries (NAME=value) added to the child's environment.
    QList<QByteArray> Environment;
};

// What RunAndCapture returns besides 0 and a system error code.
constexpr std::int32_t kRunTimedOut = -1;
constexpr std::int32_t kRunStopped = -2;

// How long a child that is asked to stop may take before it is killed outright.
constexpr int kStopGraceMs = 5000;

// Starts cmdLine (the program's path first, then its arguments, in the Windows command-line
// syntax) with no standard input and an environment of its own, waits for it while window events
// keep being dispatched, and fills outLines / errLines with its standard output / standard error.
// Returns 0 when the child ended by itself (exitCode is its exit code), kRunTimedOut when it ran
// for timeoutSec since its start or since the last line that control.ErrLine took as headway,
// kRunStopped when control.StopRequested returned true during the run (exitCode is 1 in both
// cases), or a positive system error code when it could not be started (the lists and exitCode
// are then left untouched). A child that the runner gives up on is asked to stop and given
// kStopGraceMs to end, its output still being read, before it is killed.
std::int32_t RunAndCapture(const QByteArray &cmdLine, std::uint32_t timeoutSec, ByteLines &outLines,
                           ByteLines &errLines, std::uint32_t &exitCode,
                           const TRunControl &control = {});

// Splits captured bytes into lines: the text ends at its last byte or at the first zero byte; a
// line ends at CR, at LF, or at CR LF (one line end); a line end at the very end adds no empty
// line, and a last line without one still counts.
ByteLines SplitLines(const QByteArray &bytes);

// Splits a command line into arguments the way a Windows program's start-up code does: the first
// word is the program (up to the next blank, or between double quotes with no escapes); the rest
// follow the usual rules for blanks, double quotes and backslashes.
std::vector<QByteArray> SplitCommandLine(const QByteArray &cmdLine);

// The operating system's own message text for a system error code, with trailing blanks, control
// characters and full stops removed.
QString SystemErrorText(std::uint32_t code);
