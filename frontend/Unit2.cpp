#include "Unit2.h"

#include <QFrame>
#include <QGuiApplication>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>

TForm2 *Form2 = nullptr;

namespace {

constexpr int kClientWidth = 373;
constexpr int kClientHeight = 250;
constexpr int kPanelHeight = 41;

} // namespace

TForm2::TForm2(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral("PLC Info"));
    setFixedSize(kClientWidth, kClientHeight);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setGeometry(0, 0, kClientWidth, kClientHeight - kPanelHeight);
    ListBox1->setFrameShape(QFrame::NoFrame);
    QPalette face = ListBox1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Button));
    ListBox1->setPalette(face);
    ListBox1->setAccessibleName(QStringLiteral("Сведения о контроллере"));

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(0, kClientHeight - kPanelHeight, kClientWidth, kPanelHeight);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    Button1 = new QPushButton(QStringLiteral("Ok"), Panel1);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(272, 8, 75, 25);
    Button1->setDefault(true);
    Button1->setAccessibleName(QStringLiteral("Закрыть"));
    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
}

void TForm2::showEvent(QShowEvent *event)
{
    // The client area is placed, not the frame: once a window manager has framed the dialog, a
    // move would place the frame where the client area went the first time, a title bar lower.
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        setGeometry(QRect(screen->availableGeometry().center() - rect().center(), size()));
    QDialog::showEvent(event);
}
