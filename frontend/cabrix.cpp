#include "cabrix.h"

#include <QCollator>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

struct ErrorText {
    std::int32_t code;
    const char *text;
};

const ErrorText ErrorTexts[] = {
    {100, "Произошла ошибка связи с ПЛК!"},
    {110, "Не удалось открыть один из заданных файлов на ПК!"},
    {111, "В параметрах указано слишком длинное имя файла!"},
    {112, "Невозможно удалить файл на ПЛК!"},
    {120, "Произошла единичная ошибка при чтении файла с ПЛК!"},
    {121, "Произошли множественные ошибки при чтении файлов с ПЛК!"},
    {130, "Произошла единичная ошибка при записи файла на ПЛК!"},
    {131, "Произошли множественные ошибки при записи файлов на ПЛК!"},
    {200, "Неправильно заданы параметры командной строки!"},
    {201, "Внутренняя ошибка приложения!"},
};

const char *const kTimeoutText = "Превышен интервал ожидания!";
const char *const kUnknownErrorText = "Неизвестная ошибка!";
const char *const kStoppedText = "Операция прервана!";

#ifdef _WIN32
const char *const kToolName = "cabrix.exe";
const char *const kOldToolName = "cabrix_old.exe";
#else
const char *const kToolName = "cabrix";
const char *const kOldToolName = "cabrix_old";
#endif

QString &ToolFolderOverride()
{
    static QString folder;
    return folder;
}

// The folder of the running executable (symlinks resolved), with its trailing separator.
QString ToolFolder()
{
    QString folder = ToolFolderOverride();
    if (folder.isEmpty()) {
        folder = QCoreApplication::instance() != nullptr
                     ? QFileInfo(QCoreApplication::applicationFilePath()).canonicalPath()
                     : QDir::currentPath();
    }
    folder = QDir::toNativeSeparators(folder);
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    return folder;
}

bool IsFolderSeparator(QChar c)
{
#ifdef _WIN32
    return c == QLatin1Char('\\') || c == QLatin1Char(':');
#else
    // PC paths are written with '/' here; a path in the Windows form splits as it would there.
    return c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':');
#endif
}

// The bytes of a PC path as the file system takes them.
QByteArray PathBytes(const QString &path) { return QFile::encodeName(path); }

// The program's path as the first word of a command line. With a blank in it (a program under
// "C:\Program Files") it is quoted: unquoted, the system would look for "C:\Program.exe" first,
// and the program's start-up code would split its own path into several arguments.
QByteArray ProgramArg(const QString &path)
{
    const QByteArray bytes = PathBytes(path);
    if (!bytes.contains(' ') && !bytes.contains('\t'))
        return bytes;
    return '"' + bytes + '"';
}

QCollator &UserCollator()
{
    static QCollator collator = [] {
        QCollator c{QLocale()};
        c.setCaseSensitivity(Qt::CaseInsensitive);
        return c;
    }();
    return collator;
}

} // namespace

void SetToolFolderOverride(const QString &folder) { ToolFolderOverride() = folder; }

TCabrix::TCabrix(QObject *AOwner) : QObject(AOwner), Runner(RunAndCapture)
{
    const QString folder = ToolFolder();
    ExePath = folder + QLatin1String(kToolName);
    OldExePath = folder + QLatin1String(kOldToolName);
    LastError.clear();
    IP = QStringLiteral("192.169..");
    Port = QStringLiteral("COM2");
    LinkKind = 0;
    UpdateLinkArg();
}

TCabrix::~TCabrix() = default;

void TCabrix::SetIP(const QString &Value)
{
    IP = Value;
    UpdateLinkArg();
}

void TCabrix::SetPort(const QString &Value)
{
    Port = Value;
    UpdateLinkArg();
}

void TCabrix::SetLinkKind(std::uint8_t Value)
{
    LinkKind = Value;
    UpdateLinkArg();
}

void TCabrix::UpdateLinkArg()
{
    if (LinkKind == 0)
        LinkArg = QStringLiteral(" /TCP") + IP;
    else if (LinkKind == 1)
        LinkArg = QStringLiteral(" /") + Port;
}

void TCabrix::SplitFileArg(const QString &Path, QString &FolderArg, QString &Name)
{
    qsizetype cut = Path.size();
    while (cut > 0 && !IsFolderSeparator(Path[cut - 1]))
        --cut;
    QString folder = Path.left(cut);
    // The root folder "/" keeps its one character: an empty folder would mean the current one.
    if (folder != QLatin1String("/"))
        folder.chop(1);
    // On the command line a backslash right before the closing quote would turn it into a literal
    // quote (a drive root such as C:\ is the case): doubled, such backslashes arrive as they are.
    qsizetype trailing = 0;
    while (trailing < folder.size() && folder[folder.size() - 1 - trailing] == QLatin1Char('\\'))
        ++trailing;
    FolderArg = QStringLiteral(" /FLDR\"") + folder + QString(trailing, QLatin1Char('\\')) +
                QLatin1Char('"');
    Name = Path.mid(cut);
}

namespace {

// Each name between double quotes, after a blank.
QByteArray QuotedNames(const QList<QByteArray> &names)
{
    QByteArray joined;
    for (const QByteArray &name : names)
        joined += " \"" + name + '"';
    return joined;
}

} // namespace

QByteArray TCabrix::GetFileCmdLine(const QString &DestPath, const QByteArray &PlcName)
{
    return GetFilesCmdLine({DestPath}, {PlcName});
}

QByteArray TCabrix::PutFileCmdLine(const QString &SrcPath) { return PutFilesCmdLine({SrcPath}); }

QByteArray TCabrix::DelFileCmdLine(const QByteArray &Name) const { return DelFilesCmdLine({Name}); }

QByteArray TCabrix::GetFilesCmdLine(const QStringList &DestPaths, const QList<QByteArray> &PlcNames)
{
    QString folderArg, name;
    SplitFileArg(DestPaths.value(0), folderArg, name);
    return ProgramArg(ExePath) + LinkArg.toLocal8Bit() + PathBytes(folderArg) + " /get" +
           QuotedNames(PlcNames);
}

QByteArray TCabrix::PutFilesCmdLine(const QStringList &SrcPaths)
{
    QString folderArg, name;
    QList<QByteArray> names;
    for (const QString &path : SrcPaths) {
        SplitFileArg(path, folderArg, name);
        names.append(PathBytes(name));
    }
    SplitFileArg(SrcPaths.value(0), folderArg, name);
    return ProgramArg(OldExePath) + LinkArg.toLocal8Bit() + PathBytes(folderArg) + " /up" +
           QuotedNames(names);
}

QByteArray TCabrix::DelFilesCmdLine(const QList<QByteArray> &Names) const
{
    return ProgramArg(ExePath) + LinkArg.toLocal8Bit() + " /del" + QuotedNames(Names);
}

QByteArray TCabrix::GetDirCmdLine() const
{
    return ProgramArg(ExePath) + LinkArg.toLocal8Bit() + " /dir";
}

QByteArray TCabrix::GetInfoCmdLine() const
{
    return ProgramArg(ExePath) + LinkArg.toLocal8Bit() + " /info";
}

bool TCabrix::GetFile(const QString &DestPath, const QByteArray &PlcName)
{
    return GetFiles({DestPath}, {PlcName});
}

bool TCabrix::PutFile(const QString &SrcPath) { return PutFiles({SrcPath}); }

bool TCabrix::DelFile(const QByteArray &Name) { return DelFiles({Name}); }

bool TCabrix::GetFiles(const QStringList &DestPaths, const QList<QByteArray> &PlcNames)
{
    return Execute(GetFilesCmdLine(DestPaths, PlcNames), Timeouts.Copy, true);
}

bool TCabrix::PutFiles(const QStringList &SrcPaths)
{
    return Execute(PutFilesCmdLine(SrcPaths), Timeouts.Copy, true);
}

bool TCabrix::DelFiles(const QList<QByteArray> &Names)
{
    return Execute(DelFilesCmdLine(Names), Timeouts.Delete, true);
}

void TCabrix::RequestStop()
{
    if (FRunning)
        FStopRequested = true;
}

bool TCabrix::Execute(const QByteArray &CmdLine, std::uint32_t TimeoutSec, bool Reports)
{
    if (OnBeforeRun)
        OnBeforeRun(this);
    OutLines.clear();
    ErrLines.clear();
    std::uint32_t exitCode = 0;
    FRunning = true;
    FStopRequested = false;
    TRunControl control;
    control.StopRequested = [this] { return FStopRequested; };
    if (Reports) {
        control.Environment = {QByteArray(kProgressVariable)};
        control.ErrLine = [this](const QByteArray &line) {
            const auto report = ParseProgressReport(line);
            if (report && OnProgress)
                OnProgress(*report);
            return report.has_value();
        };
    }
    const std::int32_t result = Runner(CmdLine, TimeoutSec, OutLines, ErrLines, exitCode, control);
    FRunning = false;
    FStopped = result == kRunStopped;

    LastError.clear();
    if (result == kRunTimedOut) {
        LastError = QString::fromUtf8(kTimeoutText);
    } else if (result == kRunStopped) {
        LastError = QString::fromUtf8(kStoppedText);
    } else if (result > 0) {
        LastError = SystemErrorText(static_cast<std::uint32_t>(result));
        // A start failure must never read as success, whatever text the system has for it.
        if (LastError.isEmpty())
            LastError = QString::fromUtf8(kUnknownErrorText);
    } else if (result < 0) {
        LastError = QString::fromUtf8(kUnknownErrorText);
    } else if (exitCode != 0) {
        LastError = QString::fromUtf8(kUnknownErrorText);
        for (const ErrorText &row : ErrorTexts) {
            if (row.code == static_cast<std::int32_t>(exitCode)) {
                LastError = QString::fromUtf8(row.text);
                break;
            }
        }
    }
    const bool success = LastError.isEmpty();
    if (OnAfterRun)
        OnAfterRun(this);
    return success;
}

int TCabrix::CompareAsc(const TPlcName &S1, const TPlcName &S2)
{
    return UserCollator().compare(S1.Text, S2.Text);
}

int TCabrix::CompareDesc(const TPlcName &S1, const TPlcName &S2) { return CompareAsc(S2, S1); }

bool TCabrix::GetDir(TPlcNames &Dest, std::uint8_t SortMode)
{
    const bool success = Execute(GetDirCmdLine(), Timeouts.Query);
    // Every line is one name, the controller's own bytes; no name is empty.
    TPlcNames names;
    for (const QByteArray &line : std::as_const(OutLines)) {
        if (!line.isEmpty())
            names.append(plc_names::Listed(line));
    }
    if (SortMode == 1)
        std::sort(names.begin(), names.end(),
                  [](const TPlcName &a, const TPlcName &b) { return CompareAsc(a, b) < 0; });
    else if (SortMode == 2)
        std::sort(names.begin(), names.end(),
                  [](const TPlcName &a, const TPlcName &b) { return CompareDesc(a, b) < 0; });
    ErrLines.clear();
    for (const TPlcName &name : std::as_const(names))
        ErrLines.append(name.Bytes);
    Dest = names;
    return success;
}

bool TCabrix::GetInfo(QStringList &Dest)
{
    const bool success = Execute(GetInfoCmdLine(), Timeouts.Query);
    Dest.clear();
    for (const QByteArray &line : std::as_const(OutLines))
        Dest.append(plc_names::FromController(line));
    return success;
}
