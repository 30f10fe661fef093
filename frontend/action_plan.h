// The decisions behind Copy and Del: which way a copy goes, what the operator is asked first, and
// which call of the tool wrapper follows. No widgets: the window hands in what it shows, and shows
// what comes back.
#pragma once

#include "plc_names.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

enum class TSide { None, Pc, Plc };

// What the window shows when Copy or Del is pressed.
struct TSelection {
    TSide Side = TSide::None;  // the list the operator entered last
    bool PlcListValid = false; // the last controller listing succeeded
    QString Folder;            // the PC folder shown, in the platform's separators
    QStringList PcFiles;       // the selected PC files' names, in the list's order
    TPlcNames PlcFiles;        // the selected controller items, in the list's order
    TPlcNames Listed;          // every item of the controller list
};

struct TQuestion {
    QString Text;
    int DefaultButton;  // mrYes, or mrNo where a slip of the Enter key would lose a file
    bool ToAll = false; // offers "Yes to all" and "No to all" besides Yes, No and Cancel
    bool operator==(const TQuestion &) const = default;
};

enum class TCallKind { None, PutFile, GetFile, DelFile };

// One call of the tool wrapper, for one or several files.
struct TToolCall {
    TCallKind Kind = TCallKind::None;
    QStringList PcPaths;         // PutFile: the PC files sent; GetFile: the PC paths they are stored under
    QList<QByteArray> PlcNames;  // GetFile, DelFile: the controller's own bytes of the names
    QStringList Shown;           // each file's name as the operator sees it
    QString WaitText;            // the wait box's text while the call runs
    bool operator==(const TToolCall &) const = default;
};

// The question before a copy replaces a file of the same name, and the file of the call it is
// about.
struct TOverwrite {
    TQuestion Question;
    int File; // index into the call's files
    bool operator==(const TOverwrite &) const = default;
};

// What pressing the button comes to: a notice or a refusal and nothing else, or the questions and
// then the call.
struct TPlan {
    QString Notice;                     // shown in a notice box; nothing runs
    QString Refusal;                    // shown in an error box; nothing runs
    std::vector<TQuestion> Questions;   // asked in order; any answer but Yes ends it there
    std::vector<TOverwrite> Overwrites; // then these, in order (see Decide)
    TToolCall Call;                     // with every file, before the answers to Overwrites
};

class TActionPlanner {
public:
    using TFileExists = std::function<bool(const QString &Path)>;
    using TAsk = std::function<int(const TQuestion &Question)>;

    explicit TActionPlanner(TFileExists FileExists);

    TPlan Copy(const TSelection &S) const;
    TPlan Delete(const TSelection &S) const;

    // Asks the plan's questions and gives the call that follows, or nothing when nothing is to
    // run. To an overwrite question, Yes keeps the file in the call, No leaves it out, "Yes to
    // all" and "No to all" answer the rest of them the same way unasked, and Cancel (or any other
    // answer) ends it all.
    static std::optional<TToolCall> Decide(const TPlan &Plan, const TAsk &Ask);

private:
    TFileExists FFileExists;
};
