#include "msgbox.h"

#include <QAbstractButton>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>

namespace {

TMessageDlgHook &MessageHook()
{
    static TMessageDlgHook hook;
    return hook;
}

TShowModalHook &ModalHook()
{
    static TShowModalHook hook;
    return hook;
}

} // namespace

void SetMessageDlgHook(TMessageDlgHook Hook) { MessageHook() = std::move(Hook); }
void SetShowModalHook(TShowModalHook Hook) { ModalHook() = std::move(Hook); }

int MessageDlg(const QString &Msg, TMsgDlgType DlgType, int DefaultButton, bool ToAll)
{
    if (MessageHook())
        return MessageHook()(Msg, DlgType, DefaultButton, ToAll);

    QMessageBox box;
    box.setText(Msg);
    struct Button {
        const char *caption;
        QMessageBox::ButtonRole role;
        int result;
    };
    std::vector<Button> buttons;
    switch (DlgType) {
    case TMsgDlgType::mtError:
        box.setIcon(QMessageBox::Critical);
        box.setWindowTitle(QStringLiteral("Error"));
        buttons = {{"OK", QMessageBox::AcceptRole, mrOk}, {"Cancel", QMessageBox::RejectRole, mrCancel}};
        break;
    case TMsgDlgType::mtConfirmation:
        box.setIcon(QMessageBox::Question);
        box.setWindowTitle(QStringLiteral("Confirm"));
        if (ToAll)
            buttons = {{"&Yes", QMessageBox::YesRole, mrYes},
                       {"Yes to &all", QMessageBox::YesRole, mrYesToAll},
                       {"&No", QMessageBox::NoRole, mrNo},
                       {"N&o to all", QMessageBox::NoRole, mrNoToAll},
                       {"Cancel", QMessageBox::RejectRole, mrCancel}};
        else
            buttons = {{"&Yes", QMessageBox::YesRole, mrYes},
                       {"&No", QMessageBox::NoRole, mrNo},
                       {"Cancel", QMessageBox::RejectRole, mrCancel}};
        break;
    case TMsgDlgType::mtInformation:
        box.setIcon(QMessageBox::Information);
        box.setWindowTitle(QStringLiteral("Information"));
        buttons = {{"OK", QMessageBox::AcceptRole, mrOk}, {"Cancel", QMessageBox::RejectRole, mrCancel}};
        break;
    }
    std::vector<std::pair<QPushButton *, int>> results;
    for (const Button &b : buttons)
        results.emplace_back(box.addButton(QString::fromLatin1(b.caption), b.role), b.result);
    box.setDefaultButton(results.front().first);
    for (const auto &[button, result] : results) {
        if (result == DefaultButton)
            box.setDefaultButton(button);
    }
    box.exec();
    for (const auto &[button, result] : results) {
        if (box.clickedButton() == button)
            return result;
    }
    return mrCancel;
}

int ShowModalForm(QDialog &Form)
{
    if (ModalHook())
        return ModalHook()(Form);
    return Form.exec() == QDialog::Accepted ? mrOk : mrCancel;
}
