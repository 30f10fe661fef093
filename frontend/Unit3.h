// Unit Unit3: TForm3, the progress box shown while a copy or delete runs: the wait text, the
// file under way, a bar, the figures (bytes, rate, time left) and Cancel.
#pragma once

#include <QDialog>

#include <cstdint>
#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;
class TTransferProgress;

class TForm3 : public QDialog {
public:
    explicit TForm3(QWidget *parent = nullptr);

    QLabel *Label1;              // the wait text
    QLabel *Label2;              // the file under way
    QProgressBar *ProgressBar1;
    QLabel *Label3;              // bytes, rate and time left
    QPushButton *Button1;        // Cancel
    std::function<void()> OnCancel;

    // Makes the box ready for a run: its text, an empty busy bar, Cancel enabled.
    void Start(const QString &WaitText);
    // Shows what has been reported. ByFiles: the bar counts files, and there are no figures (a
    // delete).
    void ShowProgress(const TTransferProgress &Progress, std::int64_t NowMs, bool ByFiles);
    // Cancel has been pressed: the box says the run is being stopped.
    void ShowStopping();

    // The box goes only when the run ends (HideWait): neither Esc nor a close request takes it
    // away, which would leave the main window disabled with nothing to enable it again. Esc
    // presses Cancel.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

extern TForm3 *Form3;
