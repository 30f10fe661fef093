// Unit Unit2: TForm2, the PLC Info dialog, which lists the controller's information lines.
#pragma once

#include <QDialog>

class QFrame;
class QListWidget;
class QPushButton;

class TForm2 : public QDialog {
public:
    explicit TForm2(QWidget *parent = nullptr);

    QListWidget *ListBox1;
    QFrame *Panel1;
    QPushButton *Button1;

protected:
    void showEvent(QShowEvent *event) override;
};

extern TForm2 *Form2;
