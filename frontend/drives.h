// The PC's drives: listing them, the current folder of each, and their free and total space.
#pragma once

#include <QList>
#include <QString>

#include <cstdint>

struct TDrive {
    QString Root;    // the drive's root folder, as the file system names it
    QString Caption; // what the drive drop-down shows
};

// The PC's drives, in the order the drop-down shows them.
QList<TDrive> ListDrives();

// The root of the drive that holds the process's current folder.
QString CurrentDriveRoot();

// The folder that a drive's folder list starts on when the drive is chosen.
QString DriveCurrentFolder(const QString &Root);

// Free bytes available to the caller and total bytes of the volume at Root; false when the query
// fails.
bool QueryDriveSpace(const QString &Root, std::int64_t &FreeBytes, std::int64_t &TotalBytes);
