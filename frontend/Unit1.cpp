#include "Unit1.h"

#include "Unit2.h"
#include "Unit3.h"
#include "action_plan.h"
#include "cabrix.h"
#include "dos_devices.h"
#include "drives.h"
#include "file_browse.h"
#include "msgbox.h"
#include "plc_names.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QFrame>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>

TForm1 *Form1 = nullptr;

namespace {

constexpr int kFormLeft = 164;
constexpr int kFormTop = 101;
constexpr int kFormWidth = 758;
constexpr int kFormHeight = 480;
constexpr int kBottomPanelHeight = 41;
constexpr int kTopPanelHeight = 28;
constexpr int kDirectoryListWidth = 168;

const QString kStopQuestion = QStringLiteral("Прервать %1 и закрыть окно?");
const QString kCopyCancelled = QStringLiteral("Копирование отменено.");
const QString kDeleteCancelled = QStringLiteral("Удаление отменено.");

// The least width of each half when the operator drags the split: the link bar's Set button
// must stay in view.
constexpr int kMinHalfWidth = 270;
constexpr int kSplitHandleWidth = 6;
constexpr int kProgressRefreshMs = 500;

const char *const kSettingsOrganisation = "cabrix";
const char *const kSettingsApplication = "tollmark";

std::unique_ptr<QSettings> OpenSettings()
{
    return std::make_unique<QSettings>(QSettings::IniFormat, QSettings::UserScope,
                                       QString::fromLatin1(kSettingsOrganisation),
                                       QString::fromLatin1(kSettingsApplication));
}

// A thin handle over the border of the two halves: dragging it moves the border.
class TSplitHandle : public QWidget {
public:
    TSplitHandle(QWidget *parent, std::function<void(int Border)> Moved)
        : QWidget(parent), FMoved(std::move(Moved))
    {
        setCursor(Qt::SplitHCursor);
    }

protected:
    void mousePressEvent(QMouseEvent *event) override
    {
        FGrab = event->position().toPoint().x() - width() / 2;
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        if (event->buttons() & Qt::LeftButton)
            FMoved(mapToParent(event->position().toPoint()).x() - FGrab);
    }

private:
    std::function<void(int)> FMoved;
    int FGrab = 0;
};

// Each item of the controller list keeps the controller's own bytes of its name.
constexpr int kPlcBytesRole = Qt::UserRole;

QFrame *NewPanel(const char *name, QWidget *parent)
{
    auto *panel = new QFrame(parent);
    panel->setObjectName(QString::fromLatin1(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    return panel;
}

QPushButton *NewButton(const char *name, const char *caption, QWidget *parent, int x, int y, int w, int h)
{
    auto *button = new QPushButton(QString::fromLatin1(caption), parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(x, y, w, h);
    return button;
}

// A screen reader's name for a control (its object name is no word), and a tool tip that names
// its keys.
void Describe(QWidget *w, const QString &name, const QString &tip = QString())
{
    w->setAccessibleName(name);
    if (!tip.isEmpty())
        w->setToolTip(tip);
}

void SetItems(QListWidget &list, const QStringList &items)
{
    list.clear();
    list.addItems(items);
}

TPlcName PlcItem(const QListWidgetItem &item)
{
    return {item.text(), item.data(kPlcBytesRole).toByteArray()};
}

void ClearSelection(QListWidget &list)
{
    list.clearSelection();
    list.setCurrentRow(-1);
}

void ErrorBox(const QString &text) { MessageDlg(text, TMsgDlgType::mtError); }
bool Confirmed(const QString &text, int defaultButton)
{
    return MessageDlg(text, TMsgDlgType::mtConfirmation, defaultButton) == mrYes;
}
void NoticeBox(const QString &text) { MessageDlg(text, TMsgDlgType::mtInformation); }

} // namespace

TForm1::TForm1(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Form1"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    FClock.start();
    CreateControls();
    CreateShortcuts();
    FProgressTimer = new QTimer(this);
    FProgressTimer->setInterval(kProgressRefreshMs);
    connect(FProgressTimer, &QTimer::timeout, this, [this] { ShowProgress(); });
    setGeometry(kFormLeft, kFormTop, kFormWidth, kFormHeight);
    setMinimumSize(kFormWidth, kFormHeight);
    FormResize();
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::CreateControls()
{
    // Created in the order of the tab chain: the bottom bar, the PC side, the controller side.
    Panel1 = NewPanel("Panel1", this);
    Button1 = NewButton("Button1", "Del", Panel1, 8, 8, 75, 25);
    Button2 = NewButton("Button2", "Copy", Panel1, 96, 8, 75, 25);
    Button3 = NewButton("Button3", "Dir", Panel1, 184, 8, 75, 25);
    Button4 = NewButton("Button4", "Info", Panel1, 272, 8, 75, 25);

    Panel2 = NewPanel("Panel2", this);
    Panel4 = NewPanel("Panel4", Panel2);
    DriveComboBox1 = new QComboBox(Panel4);
    DriveComboBox1->setObjectName(QStringLiteral("DriveComboBox1"));
    DriveComboBox1->setGeometry(5, 4, 145, 21);
    Label1 = new QLabel(Panel4);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(159, 6);
    Label1->setFont(QFont(QStringLiteral("Arial"), 8, QFont::Bold));
    DirectoryListBox1 = new TDirectoryListBox(Panel2);
    DirectoryListBox1->setObjectName(QStringLiteral("DirectoryListBox1"));
    FileListBox1 = new TFileListBox(Panel2);
    FileListBox1->setObjectName(QStringLiteral("FileListBox1"));

    Panel3 = NewPanel("Panel3", this);
    Panel5 = NewPanel("Panel5", Panel3);
    ComboBox1 = new QComboBox(Panel5);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->addItems({QStringLiteral("TCP"), QStringLiteral("COM")});
    ComboBox1->setCurrentIndex(0);
    ComboBox1->setGeometry(6, 2, 67, 21);
    Edit1 = new QLineEdit(QStringLiteral("192.168.."), Panel5);
    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(80, 2, 97, 21);
    ComboBox2 = new QComboBox(Panel5);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    ComboBox2->setGeometry(80, 2, 97, 21);
    ComboBox2->setEditText(QString());
    Button5 = NewButton("Button5", "Set", Panel5, 184, 2, 75, 21);
    ListBox1 = new QListWidget(Panel3);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::ExtendedSelection);
    Splitter1 = new TSplitHandle(this, [this](int border) {
        if (width() > 0)
            SetSplit(static_cast<double>(border) / width());
    });
    Splitter1->setObjectName(QStringLiteral("Splitter1"));

    Describe(Button1, QStringLiteral("Удалить"), QStringLiteral("Удалить выбранные файлы контроллера (Delete, F8)"));
    Describe(Button2, QStringLiteral("Копировать"),
             QStringLiteral("Копировать выбранные файлы на другую сторону (F5)"));
    Describe(Button3, QStringLiteral("Обновить список контроллера"),
             QStringLiteral("Прочитать список файлов контроллера (Ctrl+R, F2)"));
    Describe(Button4, QStringLiteral("Сведения о контроллере"), QStringLiteral("Сведения о контроллере (Ctrl+I)"));
    Describe(Button5, QStringLiteral("Применить связь"),
             QStringLiteral("Применить выбор связи и прочитать список файлов (Enter в поле адреса)"));
    Describe(DriveComboBox1, QStringLiteral("Диск ПК"));
    Describe(Label1, QStringLiteral("Свободное место на диске"));
    Describe(DirectoryListBox1, QStringLiteral("Папки ПК"),
             QStringLiteral("Enter или двойной щелчок открывает папку, Backspace — папка выше"));
    Describe(FileListBox1, QStringLiteral("Файлы ПК"),
             QStringLiteral("Несколько файлов выбираются с Ctrl и Shift"));
    Describe(ComboBox1, QStringLiteral("Вид связи"));
    Describe(Edit1, QStringLiteral("Адрес контроллера"));
    Describe(ComboBox2, QStringLiteral("Последовательный порт"));
    Describe(ListBox1, QStringLiteral("Файлы контроллера"),
             QStringLiteral("Несколько файлов выбираются с Ctrl и Shift"));
    Describe(Splitter1, QStringLiteral("Граница между ПК и контроллером"));

    // The PC side starts on the current drive and folder.
    for (const TDrive &drive : ListDrives())
        DriveComboBox1->addItem(drive.Caption, drive.Root);
    const int current = DriveComboBox1->findData(CurrentDriveRoot());
    DriveComboBox1->setCurrentIndex(current >= 0 ? current : 0);
    connect(DirectoryListBox1, &TDirectoryListBox::Changed, this, [this] { DirectoryListBox1Change(); });
    connect(FileListBox1, &TFileListBox::FolderChanged, this, [this] { ShowFreeSpace(ChosenDriveRoot()); });
    DirectoryListBox1->SetDirectory(QDir::currentPath());

    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    connect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    connect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    connect(Button5, &QPushButton::clicked, this, [this] { Button5Click(); });
    connect(DriveComboBox1, &QComboBox::activated, this, [this] { DriveComboBox1Change(); });
    connect(ComboBox1, &QComboBox::currentTextChanged, this, [this] { ComboBox1Change(); });
    // "TCP" typed over "COM" chooses its item only when the edit ends, and the text stays as it
    // was: the fields must follow the choice then too, or Set would take the hidden one's text.
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] {
        if (Edit1->isHidden() == TcpChosen())
            ComboBox1Change();
    });
    FileListBox1->installEventFilter(this);
    ListBox1->installEventFilter(this);
}

void TForm1::CreateShortcuts()
{
    auto add = [this](QWidget *scope, const QKeySequence &keys, Qt::ShortcutContext context,
                      QPushButton *button) {
        auto *shortcut = new QShortcut(keys, scope);
        shortcut->setContext(context);
        // Through the button, so that a key does what a click does and nothing while it is off.
        connect(shortcut, &QShortcut::activated, button, &QPushButton::click);
    };
    add(this, QKeySequence(Qt::Key_F5), Qt::WindowShortcut, Button2);
    // Del only ever deletes on the controller: the keys act in its list alone.
    add(ListBox1, QKeySequence(Qt::Key_Delete), Qt::WidgetShortcut, Button1);
    add(ListBox1, QKeySequence(Qt::Key_F8), Qt::WidgetShortcut, Button1);
    add(this, QKeySequence(Qt::CTRL | Qt::Key_R), Qt::WindowShortcut, Button3);
    add(this, QKeySequence(Qt::Key_F2), Qt::WindowShortcut, Button3);
    add(this, QKeySequence(Qt::CTRL | Qt::Key_I), Qt::WindowShortcut, Button4);
    connect(Edit1, &QLineEdit::returnPressed, Button5, &QPushButton::click);
    connect(ComboBox2->lineEdit(), &QLineEdit::returnPressed, Button5, &QPushButton::click);

    auto *up = new QShortcut(QKeySequence(Qt::Key_Backspace), Panel2);
    up->setContext(Qt::WidgetWithChildrenShortcut);
    connect(up, &QShortcut::activated, this, [this] { DirectoryListBox1->GoUp(); });
}

bool TForm1::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == FileListBox1)
            FileListBox1Enter();
        else if (watched == ListBox1)
            ListBox1Enter();
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FormResize();
}

void TForm1::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The drive drop-down reports its starting drive as a change when the window first appears.
    if (!FShownOnce) {
        FShownOnce = true;
        DriveComboBox1Change();
    }
}

int HalfRoundedToEven(int Width)
{
    const int half = Width / 2;
    if (Width % 2 == 0)
        return half;
    return half % 2 == 0 ? half : half + 1;
}

void TForm1::FormResize()
{
    int left = HalfRoundedToEven(width());
    if (FSplit >= 0 && width() >= 2 * kMinHalfWidth)
        left = std::clamp(static_cast<int>(std::lround(width() * FSplit)), kMinHalfWidth,
                          width() - kMinHalfWidth);
    Panel2->resize(left, Panel2->height());
    AlignControls();
}

void TForm1::SetSplit(double Share)
{
    FSplit = std::clamp(Share, 0.0, 1.0);
    FormResize();
}

void TForm1::AlignControls()
{
    const int w = width();
    const int h = height();
    const int sidesHeight = std::max(0, h - kBottomPanelHeight);
    const int leftWidth = Panel2->width();
    Panel1->setGeometry(0, sidesHeight, w, kBottomPanelHeight);
    Panel2->setGeometry(0, 0, leftWidth, sidesHeight);
    Panel3->setGeometry(leftWidth, 0, std::max(0, w - leftWidth), sidesHeight);

    const int listsHeight = std::max(0, sidesHeight - kTopPanelHeight);
    Panel4->setGeometry(0, 0, leftWidth, kTopPanelHeight);
    DirectoryListBox1->setGeometry(0, kTopPanelHeight, kDirectoryListWidth, listsHeight);
    FileListBox1->setGeometry(kDirectoryListWidth, kTopPanelHeight,
                              std::max(0, leftWidth - kDirectoryListWidth), listsHeight);
    Panel5->setGeometry(0, 0, Panel3->width(), kTopPanelHeight);
    ListBox1->setGeometry(0, kTopPanelHeight, Panel3->width(), listsHeight);
    Splitter1->setGeometry(leftWidth - kSplitHandleWidth / 2, kTopPanelHeight, kSplitHandleWidth,
                           listsHeight);
    Splitter1->raise();
}

void TForm1::FormCreate()
{
    ComboBox2->hide();
    // A start after an earlier run lists the controller it was left on; a first start ever lists
    // the one of the address field's initial text.
    RestoreSettings();
    FPcSideActive = false;
    FPlcSideActive = false;
    FPlc = new TCabrix(this);
    FPlc->OnBeforeRun = [this](QObject *sender) { ShowWait(sender); };
    FPlc->OnAfterRun = [this](QObject *sender) { HideWait(sender); };
    FPlc->OnProgress = [this](const TProgressReport &report) {
        FProgress.Take(report, FClock.elapsed());
        ShowProgress();
    };
    FWaitText.clear();
    ApplyLink();
    Button3Click();
}

void TForm1::RestoreSettings()
{
    const auto settings = OpenSettings();
    const QString kind = settings->value(QStringLiteral("link/kind")).toString();
    if (kind.isEmpty())
        return;
    Edit1->setText(settings->value(QStringLiteral("link/address"), Edit1->text()).toString());
    ComboBox2->setEditText(settings->value(QStringLiteral("link/port")).toString());
    ComboBox1->setCurrentIndex(kind == QLatin1String("COM") ? 1 : 0);
    const QByteArray geometry = settings->value(QStringLiteral("window/geometry")).toByteArray();
    if (!geometry.isEmpty())
        restoreGeometry(geometry);
    bool known = false;
    const double split = settings->value(QStringLiteral("window/split")).toDouble(&known);
    if (known && split > 0 && split < 1)
        FSplit = split;
    FormResize();
}

void TForm1::SaveLink() const
{
    const auto settings = OpenSettings();
    settings->setValue(QStringLiteral("link/kind"), TcpChosen() ? QStringLiteral("TCP") : QStringLiteral("COM"));
    settings->setValue(QStringLiteral("link/address"), Edit1->text());
    settings->setValue(QStringLiteral("link/port"), ComboBox2->currentText());
}

void TForm1::SaveWindow() const
{
    const auto settings = OpenSettings();
    settings->setValue(QStringLiteral("window/geometry"), saveGeometry());
    if (FSplit >= 0)
        settings->setValue(QStringLiteral("window/split"), FSplit);
}

QString TForm1::ChosenDriveRoot() const { return DriveComboBox1->currentData().toString(); }

QString FreeSpaceText(std::int64_t FreeBytes, std::int64_t TotalBytes, const QLocale &Locale)
{
    auto megabytes = [&](std::int64_t bytes) {
        const double mb = static_cast<double>(bytes) / 1024.0 / 1024.0;
        return Locale.toString(std::nearbyint(mb * 100.0) / 100.0, 'f', 2);
    };
    return QStringLiteral("свободно ") + megabytes(FreeBytes) + QStringLiteral("Мб из ") +
           megabytes(TotalBytes) + QStringLiteral("Мб");
}

bool TForm1::ShowFreeSpace(const QString &Root)
{
    std::int64_t freeBytes = 0;
    std::int64_t totalBytes = 0;
    const bool ok = GetDriveSpace(Root, freeBytes, totalBytes);
    Label1->setText(ok ? FreeSpaceText(freeBytes, totalBytes) : QStringLiteral("нет диска"));
    Label1->adjustSize();
    return ok;
}

void TForm1::DriveComboBox1Change()
{
    const QString root = ChosenDriveRoot();
    if (ShowFreeSpace(root)) {
        DirectoryListBox1->SetDirectory(DriveCurrentFolder(root));
    } else {
        DirectoryListBox1->Clear();
        FileListBox1->Clear();
    }
}

void TForm1::DirectoryListBox1Change() { FileListBox1->SetDirectory(DirectoryListBox1->Directory()); }

bool TForm1::TcpChosen() const
{
    // An edited text that matches no item chooses no item.
    const int index = ComboBox1->currentIndex();
    return index == 0 && ComboBox1->itemText(0) == ComboBox1->currentText();
}

void TForm1::ComboBox1Change()
{
    if (!TcpChosen()) {
        ComboBox2->show();
        Edit1->hide();
        QStringList ports;
        try {
            ListDosDevices(ports, QStringLiteral("COM"));
        } catch (const std::exception &e) {
            // The port list keeps what it had.
            ErrorBox(QString::fromLocal8Bit(e.what()));
            return;
        }
        const QString text = ComboBox2->currentText();
        ComboBox2->clear();
        ComboBox2->addItems(ports);
        ComboBox2->setEditText(text);
    } else {
        ComboBox2->hide();
        Edit1->show();
    }
}

void TForm1::ApplyLink()
{
    if (TcpChosen()) {
        FPlc->SetLinkKind(0);
        FPlc->SetIP(Edit1->text());
    } else {
        FPlc->SetLinkKind(1);
        FPlc->SetPort(ComboBox2->currentText());
    }
}

void TForm1::Button5Click()
{
    if (FPlc->Running())
        return;
    ApplyLink();
    SaveLink();
    Button3Click();
}

QString TForm1::Relist()
{
    TPlcNames names;
    FPlcListValid = FPlc->GetDir(names, 1);
    // The list shows what the controller holds before any error box about it appears.
    SetPlcItems(names);
    return FPlcListValid ? QString() : FPlc->LastError;
}

void TForm1::SetPlcItems(const TPlcNames &Names)
{
    QList<QByteArray> kept;
    for (QListWidgetItem *item : ListBox1->selectedItems())
        kept.append(PlcItem(*item).Bytes);
    const QByteArray current = ListBox1->currentItem() != nullptr ? PlcItem(*ListBox1->currentItem()).Bytes
                                                                   : QByteArray();
    ListBox1->clear();
    for (const TPlcName &name : Names) {
        auto *item = new QListWidgetItem(name.Text, ListBox1);
        item->setData(kPlcBytesRole, name.Bytes);
        if (!current.isEmpty() && name.Bytes == current)
            ListBox1->setCurrentItem(item, QItemSelectionModel::NoUpdate);
        item->setSelected(kept.contains(name.Bytes));
    }
}

void TForm1::Button3Click()
{
    if (FPlc->Running())
        return;
    const QString error = Relist();
    if (!error.isEmpty() && !FClosePending)
        ErrorBox(error);
}

void TForm1::Button4Click()
{
    if (FPlc->Running())
        return;
    QStringList lines;
    const bool ok = FPlc->GetInfo(lines);
    if (FClosePending)
        return;
    if (Form2 != nullptr)
        SetItems(*Form2->ListBox1, lines);
    if (!ok)
        ErrorBox(FPlc->LastError);
    else if (Form2 != nullptr)
        ShowModalForm(*Form2);
}

void TForm1::FileListBox1Enter()
{
    FPcSideActive = true;
    FPlcSideActive = false;
    ClearSelection(*ListBox1);
}

void TForm1::ListBox1Enter()
{
    FPcSideActive = false;
    FPlcSideActive = true;
    ClearSelection(*FileListBox1);
}

TSide TForm1::ActiveSide() const
{
    if (FPcSideActive)
        return TSide::Pc;
    return FPlcSideActive ? TSide::Plc : TSide::None;
}

TSelection TForm1::Selection() const
{
    TSelection s;
    s.Side = ActiveSide();
    s.PlcListValid = FPlcListValid;
    s.Folder = QDir::toNativeSeparators(FileListBox1->Directory());
    s.PcFiles = FileListBox1->FileNames();
    for (int i = 0; i < ListBox1->count(); ++i) {
        const QListWidgetItem &item = *ListBox1->item(i);
        s.Listed.append(PlcItem(item));
        if (item.isSelected())
            s.PlcFiles.append(PlcItem(item));
    }
    return s;
}

namespace {

bool PcFileExists(const QString &path) { return QFileInfo::exists(path); }

} // namespace

void TForm1::Button2Click()
{
    if (!FPlc->Running())
        Carry(TActionPlanner(PcFileExists).Copy(Selection()));
}

void TForm1::Button1Click()
{
    if (!FPlc->Running())
        Carry(TActionPlanner(PcFileExists).Delete(Selection()));
}

void TForm1::Carry(const TPlan &Plan)
{
    if (!Plan.Notice.isEmpty()) {
        NoticeBox(Plan.Notice);
        return;
    }
    if (!Plan.Refusal.isEmpty()) {
        ErrorBox(Plan.Refusal);
        return;
    }
    const auto call = TActionPlanner::Decide(Plan, [](const TQuestion &question) {
        return MessageDlg(question.Text, TMsgDlgType::mtConfirmation, question.DefaultButton, question.ToAll);
    });
    if (call)
        RunCall(*call);
}

bool TForm1::CallTool(const TToolCall &Call)
{
    switch (Call.Kind) {
    case TCallKind::PutFile:
        return FPlc->PutFiles(Call.PcPaths);
    case TCallKind::GetFile:
        return FPlc->GetFiles(Call.PcPaths, Call.PlcNames);
    case TCallKind::DelFile:
        return FPlc->DelFiles(Call.PlcNames);
    case TCallKind::None:
        break;
    }
    return false;
}

void TForm1::RunCall(const TToolCall &Call)
{
    const TSide side = ActiveSide();
    FWaitText = Call.WaitText;
    FRunningCall = Call.Kind;
    FCancelPending = false;
    // What is sent is measured in advance; what is read becomes known as it arrives.
    QList<std::int64_t> sizes;
    for (qsizetype i = 0; i < Call.Shown.size(); ++i) {
        const QFileInfo file(Call.PcPaths.value(i));
        sizes.append(Call.Kind == TCallKind::PutFile && file.isFile() ? file.size() : -1);
    }
    FProgress.Begin(Call.Shown, sizes, FClock.elapsed());
    const bool ok = CallTool(Call);
    const bool cancelled = FCancelPending && FPlc->Stopped();
    FRunningCall = TCallKind::None;
    FCancelPending = false;
    FWaitText.clear();
    if (FClosePending)
        return;
    const QString error = ok || cancelled ? QString() : FPlc->LastError;
    if (Call.Kind == TCallKind::GetFile)
        FileListBox1->Update();
    // Whatever the outcome, the controller list then shows what the controller holds.
    const QString listError = Relist();
    if (FClosePending)
        return;
    // Disabled during the run, the window would give the focus to its first button.
    if (side == TSide::Pc)
        FileListBox1->setFocus();
    else if (side == TSide::Plc)
        ListBox1->setFocus();
    if (cancelled)
        NoticeBox(Call.Kind == TCallKind::DelFile ? kDeleteCancelled : kCopyCancelled);
    if (!error.isEmpty())
        ErrorBox(error);
    if (!listError.isEmpty() && listError != error)
        ErrorBox(listError);
}

void TForm1::ShowProgress()
{
    if (Form3 != nullptr && Form3->isVisible())
        Form3->ShowProgress(FProgress, FClock.elapsed(), FRunningCall == TCallKind::DelFile);
}

void TForm1::CancelRun()
{
    if (FPlc == nullptr || !FPlc->Running() || FRunningCall == TCallKind::None || FCancelPending)
        return;
    FCancelPending = true;
    if (Form3 != nullptr)
        Form3->ShowStopping();
    FPlc->RequestStop();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (FPlc == nullptr || !FPlc->Running()) {
        FClosePending = false;
        SaveWindow();
        QWidget::closeEvent(event);
        return;
    }
    event->ignore();
    if (FClosePending)
        return;
    // A copy or a delete stops only if the operator says so; a listing or an information query
    // loses nothing by stopping.
    if (FRunningCall != TCallKind::None) {
        const QString what = FRunningCall == TCallKind::DelFile ? QStringLiteral("удаление")
                                                                 : QStringLiteral("копирование");
        // The wait box stays on top: it would hide the question.
        const bool boxUp = Form3 != nullptr && Form3->isVisible();
        if (boxUp)
            Form3->hide();
        const bool stop = Confirmed(kStopQuestion.arg(what), mrNo);
        if (boxUp)
            Form3->show();
        if (!stop)
            return;
    }
    FClosePending = true;
    FPlc->RequestStop();
}

void TForm1::ShowWait(QObject *)
{
    if (FWaitText.isEmpty() || Form3 == nullptr)
        return;
    Form3->Start(FWaitText);
    Form3->OnCancel = [this] { CancelRun(); };
    setEnabled(false);
    Form3->show();
    ShowProgress();
    FProgressTimer->start();
}

void TForm1::HideWait(QObject *)
{
    FProgressTimer->stop();
    if (Form3 != nullptr && Form3->isVisible()) {
        Form3->hide();
        setEnabled(true);
        // The wait box took the activation when it showed: the main window takes it back.
        activateWindow();
        FWaitText.clear();
    }
    // The run the operator closed the window in has ended: the window goes once the handler that
    // started the run has returned.
    if (FClosePending)
        QTimer::singleShot(0, this, [this] { close(); });
}

void NextToken(const QByteArray &S, int &aStartPos, QByteArray &Token)
{
    if (aStartPos < 1)
        throw std::out_of_range("aStartPos должен быть больше 0");
    Token.clear();
    if (aStartPos > S.size())
        return;
    const qsizetype zero = S.indexOf('\0', aStartPos - 1);
    if (zero < 0) {
        aStartPos = 1;
        return;
    }
    Token = S.mid(aStartPos - 1, zero - (aStartPos - 1));
    aStartPos = static_cast<int>(zero) + 2;
}

bool HasPrefix(const QString &Prefix, const QString &S) { return S.left(Prefix.size()) == Prefix; }

void ListDosDevices(QStringList &Items, const QString &Prefix)
{
    const QByteArray names = QueryDosDeviceNames();
    QStringList found;
    int pos = 1;
    for (;;) {
        QByteArray token;
        NextToken(names, pos, token);
        if (token.isEmpty())
            break;
        const QString name = QString::fromLocal8Bit(token);
        if (HasPrefix(Prefix, name))
            found.append(name);
    }
    Items = found;
}

bool GetDriveSpace(const QString &Drive, std::int64_t &FreeBytes, std::int64_t &TotalBytes)
{
    const QString remembered = QDir::currentPath();
    if (Drive.isEmpty() || !QDir::setCurrent(Drive)) {
        FreeBytes = -1;
        TotalBytes = -1;
        return false;
    }
    const bool ok = QueryDriveSpace(Drive, FreeBytes, TotalBytes);
    if (!ok) {
        FreeBytes = -1;
        TotalBytes = -1;
    }
    QDir::setCurrent(remembered);
    return ok;
}
