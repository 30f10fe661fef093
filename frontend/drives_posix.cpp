// Drives on POSIX are the mounted file systems.
#include "drives.h"

#include <QDir>
#include <QFile>
#include <QStorageInfo>

#include <sys/statvfs.h>

QList<TDrive> ListDrives()
{
    QList<TDrive> drives;
    for (const QStorageInfo &volume : QStorageInfo::mountedVolumes()) {
        if (volume.isValid() && volume.isReady())
            drives.append({volume.rootPath(), volume.rootPath()});
    }
    const QString current = CurrentDriveRoot();
    bool listed = false;
    for (const TDrive &d : drives)
        listed = listed || d.Root == current;
    if (!listed)
        drives.prepend({current, current});
    return drives;
}

QString CurrentDriveRoot()
{
    const QStorageInfo volume(QDir::currentPath());
    return volume.isValid() ? volume.rootPath() : QStringLiteral("/");
}

QString DriveCurrentFolder(const QString &Root)
{
    // Only the drive of the current folder has a folder of its own to return to.
    return Root == CurrentDriveRoot() ? QDir::currentPath() : Root;
}

bool QueryDriveSpace(const QString &Root, std::int64_t &FreeBytes, std::int64_t &TotalBytes)
{
    struct statvfs st;
    if (::statvfs(QFile::encodeName(Root).constData(), &st) != 0)
        return false;
    FreeBytes = static_cast<std::int64_t>(st.f_bavail) * static_cast<std::int64_t>(st.f_frsize);
    TotalBytes = static_cast<std::int64_t>(st.f_blocks) * static_cast<std::int64_t>(st.f_frsize);
    return true;
}
