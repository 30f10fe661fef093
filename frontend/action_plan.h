// The decisions behind Copy and Del: which way a copy goes, what the operator is asked first, and
// which call of the tool wrapper follows. No widgets: the window hands in what it shows, and shows
// what comes back.
#pragma once

#include "plc_names.h"

#include <QString>

#include <functional>
#include <optional>
#include <vector>

enum class TSide { None, Pc, Plc };

// What the window shows when Copy or Del is pressed.
struct TSelection {
    TSide Side = TSide::None;        // the list the operator entered last
    bool PlcListValid = false;       // the last controller listing succeeded
    QString Folder;                  // the PC folder shown, in the platform's separators
    QString PcFile;                  // the selected PC file's name; empty when none
    std::optional<TPlcName> PlcFile; // the selected controller item
    TPlcNames Listed;                // every item of the controller list
};

struct TQuestion {
    QString Text;
    int DefaultButton; // mrYes, or mrNo where a slip of the Enter key would lose a file
    bool operator==(const TQuestion &) const = default;
};

enum class TCallKind { None, PutFile, GetFile, DelFile };

// One call of the tool wrapper.
struct TToolCall {
    TCallKind Kind = TCallKind::None;
    QString PcPath;     // PutFile: the PC file sent; GetFile: the PC path the file is stored under
    QByteArray PlcName; // GetFile, DelFile: the controller's own bytes of the name
    QString WaitText;   // the wait box's text while the call runs
    bool operator==(const TToolCall &) const = default;
};

// What pressing the button comes to: a notice or a refusal and nothing else, or the questions and
// then the call.
struct TPlan {
    QString Notice;                   // shown in a notice box; nothing runs
    QString Refusal;                  // shown in an error box; nothing runs
    std::vector<TQuestion> Questions; // asked in order; any answer but Yes ends it there
    TToolCall Call;
};

class TActionPlanner {
public:
    using TFileExists = std::function<bool(const QString &Path)>;

    explicit TActionPlanner(TFileExists FileExists);

    TPlan Copy(const TSelection &S) const;
    TPlan Delete(const TSelection &S) const;

private:
    TFileExists FFileExists;
};
