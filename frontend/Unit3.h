// Unit Unit3: TForm3, the wait box shown while a copy or delete runs.
#pragma once

#include <QDialog>

class QLabel;

class TForm3 : public QDialog {
public:
    explicit TForm3(QWidget *parent = nullptr);

    QLabel *Label1;

    // The box goes only when the run ends (HideWait): neither Esc nor a close request takes it
    // away, which would leave the main window disabled with nothing to enable it again.
    void reject() override;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
};

extern TForm3 *Form3;
