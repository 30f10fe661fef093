// The PC side's folder list and file list.
#pragma once

#include <QListWidget>
#include <QString>
#include <QStringList>

class QFileSystemWatcher;

// The folders of a drive's current path: the path from the root down to the chosen folder, then
// the chosen folder's subfolders. Activating an item (double click, Enter) chooses that folder.
class TDirectoryListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TDirectoryListBox(QWidget *parent);

    // The chosen folder; empty when the list is empty.
    QString Directory() const { return m_directory; }
    // Chooses a folder and fills the list; emits Changed.
    void SetDirectory(const QString &path);
    // Empties the list (a drive that cannot be read).
    void Clear();
    // Chooses the folder above the chosen one; false at a root.
    bool GoUp();

signals:
    void Changed();

private:
    QString m_directory;
};

// The files of one folder matching "*.*": no subfolders, no hidden or system files, sorted by name;
// several can be selected (Ctrl, Shift). Showing a folder makes it the process's current folder.
// The folder is watched: when another program changes it, the list is read again and
// FolderChanged is emitted.
class TFileListBox : public QListWidget {
    Q_OBJECT
public:
    explicit TFileListBox(QWidget *parent);

    QString Directory() const { return m_directory; }
    void SetDirectory(const QString &path);
    // Reads the folder again; the selected files stay selected while they are there.
    void Update();
    // Empties the list.
    void Clear();
    // The first selected file's name; empty when none is selected.
    QString FileName() const;
    // The selected files' names, in the list's order.
    QStringList FileNames() const;

signals:
    void FolderChanged();

private:
    void Watch(const QString &path);

    QString m_directory;
    QFileSystemWatcher *m_watcher;
};
