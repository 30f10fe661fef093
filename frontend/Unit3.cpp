#include "Unit3.h"

#include "progress.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

TForm3 *Form3 = nullptr;

namespace {

constexpr int kClientWidth = 400;
constexpr int kClientHeight = 146;
constexpr int kMargin = 12;
constexpr int kInnerWidth = kClientWidth - 2 * kMargin;

QLabel *NewLabel(const char *name, QWidget *parent, int y, int h, Qt::Alignment alignment)
{
    auto *label = new QLabel(parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(kMargin, y, kInnerWidth, h);
    label->setAlignment(alignment);
    return label;
}

} // namespace

TForm3::TForm3(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Form3"));
    setFixedSize(kClientWidth, kClientHeight);
    // The box draws its fixed single border itself: without a caption, a window manager may
    // draw none.
    auto *border = new QFrame(this);
    border->setGeometry(0, 0, kClientWidth, kClientHeight);
    border->setFrameStyle(QFrame::Box | QFrame::Plain);

    Label1 = NewLabel("Label1", this, 10, 22, Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label1->setAccessibleName(QStringLiteral("Что делается"));
    Label2 = NewLabel("Label2", this, 36, 18, Qt::AlignLeft | Qt::AlignVCenter);
    Label2->setAccessibleName(QStringLiteral("Файл"));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(kMargin, 58, kInnerWidth, 18);
    ProgressBar1->setAccessibleName(QStringLiteral("Ход работы"));
    Label3 = NewLabel("Label3", this, 80, 18, Qt::AlignLeft | Qt::AlignVCenter);
    Label3->setAccessibleName(QStringLiteral("Объём, скорость и оставшееся время"));
    Button1 = new QPushButton(QStringLiteral("Cancel"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(kClientWidth - kMargin - 75, 110, 75, 25);
    Button1->setAccessibleName(QStringLiteral("Отменить"));
    Button1->setToolTip(QStringLiteral("Прервать работу (Esc)"));
    connect(Button1, &QPushButton::clicked, this, [this] {
        if (OnCancel)
            OnCancel();
    });
}

void TForm3::Start(const QString &WaitText)
{
    Label1->setText(WaitText);
    Label2->clear();
    Label3->clear();
    ProgressBar1->setRange(0, 0);
    ProgressBar1->setValue(0);
    Button1->setEnabled(true);
}

void TForm3::ShowProgress(const TTransferProgress &Progress, std::int64_t NowMs, bool ByFiles)
{
    Label2->setText(Label2->fontMetrics().elidedText(FileLineText(Progress), Qt::ElideMiddle,
                                                     Label2->width()));
    if (!Button1->isEnabled())
        return; // stopping: the figures line says so
    if (ByFiles) {
        ProgressBar1->setRange(0, Progress.FileCount());
        ProgressBar1->setValue(Progress.FilesEnded());
        return;
    }
    Label3->setText(FiguresText(Progress, NowMs));
    const std::int64_t total = Progress.TotalSize();
    if (total < 0 || Progress.FileNumber() == 0) {
        ProgressBar1->setRange(0, 0); // busy: no total to measure against
        return;
    }
    // Per mille of the total, so that the bar's int range holds any file size.
    const std::int64_t done = std::min(Progress.TotalDone(), total);
    ProgressBar1->setRange(0, 1000);
    ProgressBar1->setValue(total == 0 ? 1000 : static_cast<int>(done * 1000 / total));
}

void TForm3::ShowStopping()
{
    Button1->setEnabled(false);
    Label3->setText(QStringLiteral("Остановка…"));
}

void TForm3::showEvent(QShowEvent *event)
{
    // The client area is placed, not the frame (see TForm2::showEvent).
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QRect(screen->availableGeometry().center() - rect().center(), size()));
    QDialog::showEvent(event);
}

void TForm3::reject()
{
    if (isVisible() && Button1->isEnabled())
        Button1->click();
}

void TForm3::closeEvent(QCloseEvent *event)
{
    event->ignore();
}
