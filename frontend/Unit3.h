// Unit Unit3: TForm3, the wait box shown while a copy or delete runs.
#pragma once

#include <QDialog>

class QLabel;

class TForm3 : public QDialog {
public:
    explicit TForm3(QWidget *parent = nullptr);

    QLabel *Label1;

protected:
    void showEvent(QShowEvent *event) override;
};

extern TForm3 *Form3;
