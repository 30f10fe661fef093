// Drives on Windows are the drive letters.
#include "drives.h"

#include <QDir>
#include <QFileInfo>

#include <windows.h>

QList<TDrive> ListDrives()
{
    QList<TDrive> drives;
    for (const QFileInfo &drive : QDir::drives()) {
        const QString root = QDir::toNativeSeparators(drive.absoluteFilePath());
        drives.append({root, root.left(2).toLower()});
    }
    return drives;
}

QString CurrentDriveRoot()
{
    return QDir::toNativeSeparators(QDir::currentPath()).left(3);
}

QString DriveCurrentFolder(const QString &Root)
{
    // "C:" alone names the drive's own current folder.
    char full[MAX_PATH] = {};
    const QByteArray drive = Root.left(2).toLocal8Bit();
    const DWORD n = ::GetFullPathNameA(drive.constData(), MAX_PATH, full, nullptr);
    return n > 0 && n < MAX_PATH ? QString::fromLocal8Bit(full) : Root;
}

bool QueryDriveSpace(const QString &Root, std::int64_t &FreeBytes, std::int64_t &TotalBytes)
{
    ULARGE_INTEGER freeForCaller, total, totalFree;
    if (!::GetDiskFreeSpaceExA(Root.toLocal8Bit().constData(), &freeForCaller, &total, &totalFree))
        return false;
    FreeBytes = static_cast<std::int64_t>(freeForCaller.QuadPart);
    TotalBytes = static_cast<std::int64_t>(total.QuadPart);
    return true;
}
