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

TPlan CopyToController(const TSelection &S)
{
    // PC paths are joined with the platform's own separator.
    QString folder = S.Folder;
    if (!folder.endsWith(QDir::separator()))
        folder += QDir::separator();
    const QString path = folder + S.PcFile;
    QString error;
    QByteArray plcName;
    if (!plc_names::CheckPcPath(path, error) || !plc_names::ControllerForm(S.PcFile, plcName, error))
        return Refused(error);

    TPlan plan;
    plan.Questions.push_back(
        {QStringLiteral("Копировать файла ") + kDq + path + kDq + QStringLiteral(" в контроллер?"), mrYes});
    // The controller's names are bytes: the same letters in another case name another file.
    const bool listed = std::any_of(S.Listed.begin(), S.Listed.end(),
                                    [&](const TPlcName &n) { return n.Bytes == plcName; });
    if (listed)
        plan.Questions.push_back({QStringLiteral("Файл ") + kDq + S.PcFile + kDq +
                                      QStringLiteral(" уже есть в контроллере. Перезаписать его?"),
                                  mrNo});
    plan.Call = {TCallKind::PutFile, path, QByteArray(), kCopyingText};
    return plan;
}

TPlan CopyToPc(const TSelection &S, const TActionPlanner::TFileExists &FileExists)
{
    const TPlcName &name = *S.PlcFile;
    if (S.Folder.isEmpty())
        return Refused(kNoFolderText);
    const QString target = S.Folder + QDir::separator() + plc_names::PcForm(name);
    // The name is the controller's: it must name a file inside the chosen folder.
    QString error;
    if (!plc_names::CheckName(name.Text, error) || !plc_names::CheckPcPath(target, error))
        return Refused(error);

    TPlan plan;
    plan.Questions.push_back({QStringLiteral("Копировать файла ") + kDq + name.Text + kDq +
                                  QStringLiteral(" в папку ") + kDq + S.Folder + kDq + QStringLiteral("?"),
                              mrYes});
    if (FileExists(target))
        plan.Questions.push_back({QStringLiteral("Файл ") + kDq + target + kDq +
                                      QStringLiteral(" уже существует. Перезаписать его?"),
                                  mrNo});
    plan.Call = {TCallKind::GetFile, target, name.Bytes, kCopyingText};
    return plan;
}

} // namespace

TActionPlanner::TActionPlanner(TFileExists FileExists) : FFileExists(std::move(FileExists)) {}

TPlan TActionPlanner::Copy(const TSelection &S) const
{
    if (!S.PlcListValid)
        return NoticeOnly(kNoListText);
    if (S.Side == TSide::Pc && !S.PcFile.isEmpty())
        return CopyToController(S);
    if (S.Side == TSide::Plc && S.PlcFile)
        return CopyToPc(S, FFileExists);
    return NoticeOnly(kNoFileText);
}

TPlan TActionPlanner::Delete(const TSelection &S) const
{
    // Files on the PC side are never deleted.
    if (!(S.PlcListValid && S.Side == TSide::Plc && S.PlcFile))
        return NoticeOnly(kNoFileText);
    QString error;
    if (!plc_names::CheckName(S.PlcFile->Text, error))
        return Refused(error);
    TPlan plan;
    plan.Questions.push_back(
        {QStringLiteral("Удалить файла ") + kDq + S.PlcFile->Text + kDq + QStringLiteral("?"), mrNo});
    plan.Call = {TCallKind::DelFile, QString(), S.PlcFile->Bytes, kDeletingText};
    return plan;
}
