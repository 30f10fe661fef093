// Unit cabrix: TCabrix, the front end's whole knowledge of the console tool. It keeps the link
// chosen by the operator, builds one command line per action, runs it through RunAndCapture with
// the action's time-out and turns the outcome into one message text.
#pragma once

#include "cmd.h"
#include "plc_names.h"
#include "progress.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// A callback bound to an object and called with the sender.
using TNotifyEvent = std::function<void(QObject *Sender)>;

// The runner TCabrix calls; RunAndCapture unless a test puts another one in.
using TRunner = std::function<std::int32_t(const QByteArray &CmdLine, std::uint32_t TimeoutSec,
                                           ByteLines &OutLines, ByteLines &ErrLines,
                                           std::uint32_t &ExitCode, const TRunControl &Control)>;

// Called with each progress report of a copy or a delete as it arrives.
using TProgressEvent = std::function<void(const TProgressReport &Report)>;

// The time-outs of the actions, in seconds. A copy or a delete counts its time-out from the last
// progress report, so that only a run that has stopped moving is ended; a listing and an
// information query count from their start.
struct TTimeouts {
    std::uint32_t Copy = 120;
    std::uint32_t Delete = 60;
    std::uint32_t Query = 30;
};

// Where the console programs are looked for: the folder of the front end's own executable, or the
// folder given here (for tests) when it is not empty.
void SetToolFolderOverride(const QString &folder);

class TCabrix : public QObject {
public:
    explicit TCabrix(QObject *AOwner);
    ~TCabrix() override;

    QString LastError;           // message of the last run; empty after a successful one
    QString IP;                  // controller address as typed
    QString Port;                // serial port name, such as COM2
    std::uint8_t LinkKind = 0;   // 0 TCP, 1 serial port
    ByteLines OutLines;          // standard output of the last run
    ByteLines ErrLines;          // standard error of the last run; GetDir's working list
    QString ExePath;             // the front end's folder + "cabrix"
    QString OldExePath;          // the front end's folder + "cabrix_old"
    QString LinkArg;             // the link switch of every command line
    TNotifyEvent OnAfterRun;
    TNotifyEvent OnBeforeRun;
    TProgressEvent OnProgress;
    TRunner Runner;
    TTimeouts Timeouts;

    void SetIP(const QString &Value);
    void SetPort(const QString &Value);
    void SetLinkKind(std::uint8_t Value);

    // The names and paths these take have been checked by their caller (TActionPlanner): a name or
    // path that could leave its folder or its quotes is never put on a command line.

    // Reads the controller file PlcName (the controller's own bytes, as listed) into the folder of
    // DestPath, the PC path that the file is stored under.
    bool GetFile(const QString &DestPath, const QByteArray &PlcName);
    // Writes the PC file SrcPath to the controller.
    bool PutFile(const QString &SrcPath);
    // Deletes the controller file Name (the controller's own bytes, as listed).
    bool DelFile(const QByteArray &Name);

    // The same for several files in one run of the console program, which reports its progress
    // (OnProgress). The PC paths are all in one folder, the one of the first path.
    bool GetFiles(const QStringList &DestPaths, const QList<QByteArray> &PlcNames);
    bool PutFiles(const QStringList &SrcPaths);
    bool DelFiles(const QList<QByteArray> &Names);
    // Fills Dest with the controller's file names, one per line of the console program's output;
    // SortMode 1 ascending, 2 descending, else the program's order. Dest is refilled after a failed
    // run too.
    bool GetDir(TPlcNames &Dest, std::uint8_t SortMode);
    // Fills Dest with the controller's information lines.
    bool GetInfo(QStringList &Dest);
    // Runs one command line and sets LastError from the outcome; true when it is empty. With
    // Reports, the console program is asked for progress reports, which go to OnProgress and
    // start the time-out again.
    bool Execute(const QByteArray &CmdLine, std::uint32_t TimeoutSec, bool Reports = false);

    // Ends the run under way, if any: its console program is asked to stop (and killed if it does
    // not), and the call that started it fails with LastError set.
    void RequestStop();
    bool Running() const { return FRunning; }
    // The last run was ended by RequestStop.
    bool Stopped() const { return FStopped; }
    // FolderArg := " /FLDR" and the quoted folder part of Path (without its last separator);
    // Name := the part after it.
    void SplitFileArg(const QString &Path, QString &FolderArg, QString &Name);
    void UpdateLinkArg();

    // The command lines of the five actions, byte for byte.
    QByteArray GetFileCmdLine(const QString &DestPath, const QByteArray &PlcName);
    QByteArray PutFileCmdLine(const QString &SrcPath);
    QByteArray DelFileCmdLine(const QByteArray &Name) const;
    QByteArray GetFilesCmdLine(const QStringList &DestPaths, const QList<QByteArray> &PlcNames);
    QByteArray PutFilesCmdLine(const QStringList &SrcPaths);
    QByteArray DelFilesCmdLine(const QList<QByteArray> &Names) const;
    QByteArray GetDirCmdLine() const;
    QByteArray GetInfoCmdLine() const;

    static int CompareAsc(const TPlcName &S1, const TPlcName &S2);
    static int CompareDesc(const TPlcName &S1, const TPlcName &S2);

private:
    bool FRunning = false;
    bool FStopRequested = false;
    bool FStopped = false;
};
