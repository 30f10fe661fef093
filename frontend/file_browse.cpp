#include "file_browse.h"

#include <QDir>
#include <QFileInfo>

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

TFileListBox::TFileListBox(QWidget *parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
}

void TFileListBox::SetDirectory(const QString &path)
{
    m_directory = path;
    QDir::setCurrent(path);
    Update();
}

void TFileListBox::Update()
{
    clear();
    if (m_directory.isEmpty())
        return;
    addItems(QDir(m_directory).entryList(QStringList{QStringLiteral("*")}, QDir::Files,
                                         QDir::Name | QDir::IgnoreCase));
}

void TFileListBox::Clear()
{
    m_directory.clear();
    clear();
}

QString TFileListBox::FileName() const
{
    const QList<QListWidgetItem *> selected = selectedItems();
    return selected.isEmpty() ? QString() : selected.front()->text();
}
