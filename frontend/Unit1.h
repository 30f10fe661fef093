// Unit Unit1: TForm1, the main window: the PC's drives, folders and files on the left, the
// controller's files with the link choice on the right, and the action buttons along the bottom.
#pragma once

#include "action_plan.h"
#include "plc_names.h"
#include "progress.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QLocale>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTimer;
class TCabrix;
class TDirectoryListBox;
class TFileListBox;

class TForm1 : public QWidget {
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    QFrame *Panel1;
    QPushButton *Button1; // Del
    QPushButton *Button2; // Copy
    QPushButton *Button3; // Dir
    QPushButton *Button4; // Info
    QFrame *Panel2;
    QFrame *Panel4;
    QComboBox *DriveComboBox1;
    QLabel *Label1;
    TDirectoryListBox *DirectoryListBox1;
    TFileListBox *FileListBox1;
    QFrame *Panel3;
    QFrame *Panel5;
    QComboBox *ComboBox1;
    QLineEdit *Edit1;
    QComboBox *ComboBox2;
    QPushButton *Button5; // Set
    QListWidget *ListBox1;
    QWidget *Splitter1;   // the handle between the two halves

    // The buttons' handlers do nothing while a console program runs (a listing or an information
    // query leaves the window enabled): one run at a time.
    void FormCreate();
    void FormResize();
    void DriveComboBox1Change();
    void DirectoryListBox1Change();
    void ComboBox1Change();
    void Button5Click();
    void Button3Click();
    void Button4Click();
    void Button2Click();
    void Button1Click();
    void FileListBox1Enter();
    void ListBox1Enter();
    void ShowWait(QObject *Sender);
    void HideWait(QObject *Sender);

    // Read-only view of the window's state.
    bool PlcListValid() const { return FPlcListValid; }
    bool PcSideActive() const { return FPcSideActive; }
    bool PlcSideActive() const { return FPlcSideActive; }
    const QString &WaitText() const { return FWaitText; }
    TCabrix *Plc() const { return FPlc; }
    // The PC half's share of the width as the operator has dragged it; below 0 while it is the
    // even half.
    double Split() const { return FSplit; }
    void SetSplit(double Share);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    // While a console program runs, a close request stops it first (after asking, for a copy or a
    // delete); the window closes once the run has ended.
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateControls();
    void CreateShortcuts();
    void AlignControls();
    // The link, window size and split of the last run, applied before the first listing.
    void RestoreSettings();
    void SaveLink() const;
    // Gives the tool wrapper the link chosen in the link bar.
    void ApplyLink();
    void SaveWindow() const;
    bool TcpChosen() const;
    QString ChosenDriveRoot() const;
    // Writes the drive's free-space text; false when the drive cannot be read.
    bool ShowFreeSpace(const QString &Root);

    TSide ActiveSide() const;
    TSelection Selection() const;
    // Shows the plan's notice or refusal, or asks its questions and makes its call.
    void Carry(const TPlan &Plan);
    void RunCall(const TToolCall &Call);
    bool CallTool(const TToolCall &Call);
    void ShowProgress();
    void CancelRun();
    // Lists the controller into ListBox1; the listing's error text, empty when it succeeded.
    QString Relist();
    void SetPlcItems(const TPlcNames &Names);

    TCabrix *FPlc = nullptr;
    bool FPlcListValid = false;
    bool FPcSideActive = false;
    bool FPlcSideActive = false;
    QString FWaitText;
    bool FShownOnce = false;
    TCallKind FRunningCall = TCallKind::None; // the copy or delete under way
    bool FClosePending = false; // the operator closed the window during a run
    bool FCancelPending = false; // the operator pressed Cancel during the run
    TTransferProgress FProgress;
    QElapsedTimer FClock;
    QTimer *FProgressTimer = nullptr; // keeps the rate and time left current between reports
    double FSplit = -1;
};

extern TForm1 *Form1;

// Replaces Items with the system's DOS device names that begin with Prefix.
void ListDosDevices(QStringList &Items, const QString &Prefix);

// Returns the zero-byte-terminated token of S that starts at the 1-based position aStartPos and
// moves aStartPos past its zero byte; an empty token (and aStartPos 1) when no zero byte follows.
// Throws std::out_of_range when aStartPos is below 1.
void NextToken(const QByteArray &S, int &aStartPos, QByteArray &Token);

// True when S begins with Prefix, compared exactly.
bool HasPrefix(const QString &Prefix, const QString &S);

// Free bytes available to the caller and total bytes of a drive, given by its root; false (and
// both -1) when the drive cannot be made the current folder or queried.
bool GetDriveSpace(const QString &Drive, std::int64_t &FreeBytes, std::int64_t &TotalBytes);

// "свободно <free>Мб из <total>Мб" with the megabytes rounded to two decimals (halves to even) and
// written with the locale's separators.
QString FreeSpaceText(std::int64_t FreeBytes, std::int64_t TotalBytes, const QLocale &Locale = QLocale());

// Half of a width, rounded to the nearest whole pixel, a half to the even neighbour.
int HalfRoundedToEven(int Width);
