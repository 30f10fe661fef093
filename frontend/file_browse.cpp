#include "file_browse.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemWatcher>

namespace {

constexpr int kPathRole = Qt::UserRole;

} // namespace

TDirectoryListBox::TDirectoryListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        SetDirectory(item->data(kPathRole).toString());
    });
}

void TDirectoryListBox::SetDirectory(const QString &path)
{
    m_directory = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    clear();

    // The path from the root down: each level indented one step further.
    QStringList levels;
    for (QDir dir(m_directory);;) {
        levels.prepend(dir.absolutePath());
        if (!dir.cdUp())
            break;
    }
    int depth = 0;
    QListWidgetItem *chosen = nullptr;
    for (const QString &level : levels) {
        const QString name = depth == 0 ? QDir::toNativeSeparators(level) : QFileInfo(level).fileName();
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + name, this);
        item->setData(kPathRole, level);
        chosen = item;
        ++depth;
    }
    const QDir current(m_directory);
    for (const QString &sub : current.entryList(QDir::Dirs | QDir::NoDotAndDotDot,
                                                QDir::Name | QDir::IgnoreCase)) {
        auto *item = new QListWidgetItem(QString(depth * 2, QLatin1Char(' ')) + sub, this);
        item->setData(kPathRole, current.filePath(sub));
    }
    if (chosen != nullptr)
        setCurrentItem(chosen);
    emit Changed();
}

void TDirectoryListBox::Clear()
{
    m_directory.clear();
    clear();
}

bool TDirectoryListBox::GoUp()
{
    QDir dir(m_directory);
    if (m_directory.isEmpty() || !dir.cdUp())
        return false;
    SetDirectory(dir.absolutePath());
    return true;
}

TFileListBox::TFileListBox(QWidget *parent)
    : QListWidget(parent), m_watcher(new QFileSystemWatcher(this))
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        Update();
        emit FolderChanged();
    });
}

void TFileListBox::Watch(const QString &path)
{
    if (!m_watcher->directories().isEmpty())
        m_watcher->removePaths(m_watcher->directories());
    if (!path.isEmpty())
        m_watcher->addPath(path);
}

void TFileListBox::SetDirectory(const QString &path)
{
    m_directory = path;
    QDir::setCurrent(path);
    Watch(path);
    Update();
}

void TFileListBox::Update()
{
    const QStringList selected = FileNames();
    const QString current = currentItem() != nullptr ? currentItem()->text() : QString();
    clear();
    if (m_directory.isEmpty())
        return;
    addItems(QDir(m_directory).entryList(QStringList{QStringLiteral("*")}, QDir::Files,
                                         QDir::Name | QDir::IgnoreCase));
    for (int i = 0; i < count(); ++i) {
        QListWidgetItem *it = item(i);
        if (it->text() == current)
            setCurrentItem(it, QItemSelectionModel::NoUpdate);
        it->setSelected(selected.contains(it->text()));
    }
}

void TFileListBox::Clear()
{
    m_directory.clear();
    Watch(QString());
    clear();
}

QString TFileListBox::FileName() const { return FileNames().value(0); }

QStringList TFileListBox::FileNames() const
{
    QStringList names;
    for (int i = 0; i < count(); ++i) {
        if (item(i)->isSelected())
            names.append(item(i)->text());
    }
    return names;
}
