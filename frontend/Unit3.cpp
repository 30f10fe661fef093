#include "Unit3.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

TForm3 *Form3 = nullptr;

TForm3::TForm3(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Form3"));
    setFixedSize(400, 98);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(0, 0, 400, 98);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    // The box draws its fixed single border itself: without a caption, a window manager may
    // draw none.
    Label1->setFrameStyle(QFrame::Box | QFrame::Plain);
}

void TForm3::showEvent(QShowEvent *event)
{
    // The client area is placed, not the frame (see TForm2::showEvent).
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QRect(screen->availableGeometry().center() - rect().center(), size()));
    QDialog::showEvent(event);
}

void TForm3::reject() {}

void TForm3::closeEvent(QCloseEvent *event)
{
    event->ignore();
}
