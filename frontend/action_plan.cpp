#include "action_plan.h"

#include "msgbox.h"

#include <QDir>

#include <algorithm>

namespace {

const QChar kDq = QLatin1Char('"');
const QString kCopyingText = QStringLiteral("Подождите. Идет копирование…");
const QString kDeletingText = QStringLiteral("Подождите. Идет удаление…");
const QString kNoFileText = QStringLiteral("Файл не выбран!");
const QString kNoListText = QStringLiteral("Список файлов контроллера не прочитан, копирование "
                                           "невозможно. Проверьте связь и нажмите Dir.");
const QString kNoFolderText = QStringLiteral("Папка на ПК не выбрана!");

TPlan NoticeOnly(const QString &text)
{
    TPlan plan;
    plan.Notice = text;
    return plan;
}

TPlan Refused(const QString &text)
{
    TPlan plan;
    plan.Refusal = text;
    return plan;
}

// "1 файл", "3 файла", "5 файлов", "21 файл".
QString Files(qsizetype n)
{
    const qsizetype tens = n % 100;
    const qsizetype ones = n % 10;
    const char *word = "файлов";
    if (ones == 1 && tens != 11)
        word = "файл";
    else if (ones >= 2 && ones <= 4 && (tens < 12 || tens > 14))
        word = "файла";
    return QString::number(n) + QLatin1Char(' ') + QString::fromUtf8(word);
}

TPlan CopyToController(const TSelection &S)
{
    // PC paths are joined with the platform's own separator.
    QString folder = S.Folder;
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    TPlan plan;
    plan.Call = {TCallKind::PutFile, {}, {}, {}, kCopyingText};
    const bool several = S.PcFiles.size() > 1;
    for (const QString &file : S.PcFiles) {
        const QString path = folder + file;
        QString error;
        QByteArray plcName;
        if (!plc_names::CheckPcPath(path, error) || !plc_names::ControllerForm(file, plcName, error))
            return Refused(error);
        // The controller's names are bytes: the same letters in another case name another file.
        const bool listed = std::any_of(S.Listed.begin(), S.Listed.end(),
                                        [&](const TPlcName &n) { return n.Bytes == plcName; });
        if (listed)
            plan.Overwrites.push_back(
                {{QStringLiteral("Файл ") + kDq + file + kDq +
                      QStringLiteral(" уже есть в контроллере. Перезаписать его?"),
                  mrNo, several},
                 static_cast<int>(plan.Call.PcPaths.size())});
        plan.Call.PcPaths.append(path);
        plan.Call.Shown.append(file);
    }
    const QString what = several ? Files(S.PcFiles.size()) : QStringLiteral("файла ") + kDq + plan.Call.PcPaths.front() + kDq;
    plan.Questions.push_back({QStringLiteral("Копировать ") + what + QStringLiteral(" в контроллер?"), mrYes});
    return plan;
}

TPlan CopyToPc(const TSelection &S, const TActionPlanner::TFileExists &FileExists)
{
    if (S.Folder.isEmpty())
        return Refused(kNoFolderText);
    TPlan plan;
    plan.Call = {TCallKind::GetFile, {}, {}, {}, kCopyingText};
    const bool several = S.PlcFiles.size() > 1;
    for (const TPlcName &name : S.PlcFiles) {
        const QString target = S.Folder + QDir::separator() + plc_names::PcForm(name);
        // The name is the controller's: it must name a file inside the chosen folder.
        QString error;
        if (!plc_names::CheckName(name.Text, error) || !plc_names::CheckPcPath(target, error))
            return Refused(error);
        if (FileExists(target))
            plan.Overwrites.push_back({{QStringLiteral("Файл ") + kDq + target + kDq +
                                            QStringLiteral(" уже существует. Перезаписать его?"),
                                        mrNo, several},
                                       static_cast<int>(plan.Call.PcPaths.size())});
        plan.Call.PcPaths.append(target);
        plan.Call.PlcNames.append(name.Bytes);
        plan.Call.Shown.append(name.Text);
    }
    const QString what = several ? Files(S.PlcFiles.size()) : QStringLiteral("файла ") + kDq + S.PlcFiles.front().Text + kDq;
    plan.Questions.push_back(
        {QStringLiteral("Копировать ") + what + QStringLiteral(" в папку ") + kDq + S.Folder + kDq + QStringLiteral("?"),
         mrYes});
    return plan;
}

// The call without the files at the given indexes.
TToolCall Without(const TToolCall &call, const std::vector<int> &left)
{
    TToolCall kept = call;
    kept.PcPaths.clear();
    kept.PlcNames.clear();
    kept.Shown.clear();
    for (int i = 0; i < call.Shown.size(); ++i) {
        if (std::find(left.begin(), left.end(), i) != left.end())
            continue;
        if (i < call.PcPaths.size())
            kept.PcPaths.append(call.PcPaths[i]);
        if (i < call.PlcNames.size())
            kept.PlcNames.append(call.PlcNames[i]);
        kept.Shown.append(call.Shown[i]);
    }
    return kept;
}

} // namespace

TActionPlanner::TActionPlanner(TFileExists FileExists) : FFileExists(std::move(FileExists)) {}

TPlan TActionPlanner::Copy(const TSelection &S) const
{
    if (!S.PlcListValid)
        return NoticeOnly(kNoListText);
    if (S.Side == TSide::Pc && !S.PcFiles.isEmpty())
        return CopyToController(S);
    if (S.Side == TSide::Plc && !S.PlcFiles.isEmpty())
        return CopyToPc(S, FFileExists);
    return NoticeOnly(kNoFileText);
}

TPlan TActionPlanner::Delete(const TSelection &S) const
{
    // Files on the PC side are never deleted.
    if (!(S.PlcListValid && S.Side == TSide::Plc && !S.PlcFiles.isEmpty()))
        return NoticeOnly(kNoFileText);
    TPlan plan;
    plan.Call = {TCallKind::DelFile, {}, {}, {}, kDeletingText};
    for (const TPlcName &name : S.PlcFiles) {
        QString error;
        if (!plc_names::CheckName(name.Text, error))
            return Refused(error);
        plan.Call.PlcNames.append(name.Bytes);
        plan.Call.Shown.append(name.Text);
    }
    const QString what = S.PlcFiles.size() > 1 ? Files(S.PlcFiles.size())
                                               : QStringLiteral("файла ") + kDq + S.PlcFiles.front().Text + kDq;
    plan.Questions.push_back({QStringLiteral("Удалить ") + what + QStringLiteral("?"), mrNo});
    return plan;
}

std::optional<TToolCall> TActionPlanner::Decide(const TPlan &Plan, const TAsk &Ask)
{
    for (const TQuestion &question : Plan.Questions) {
        if (Ask(question) != mrYes)
            return std::nullopt;
    }
    std::vector<int> declined;
    int toAll = mrNone;
    for (const TOverwrite &overwrite : Plan.Overwrites) {
        const int answer = toAll != mrNone ? toAll : Ask(overwrite.Question);
        if (answer == mrYesToAll || answer == mrNoToAll)
            toAll = answer;
        if (answer == mrNo || answer == mrNoToAll)
            declined.push_back(overwrite.File);
        else if (answer != mrYes && answer != mrYesToAll)
            return std::nullopt;
    }
    TToolCall call = Without(Plan.Call, declined);
    if (call.Kind == TCallKind::None || call.Shown.isEmpty())
        return std::nullopt;
    return call;
}
