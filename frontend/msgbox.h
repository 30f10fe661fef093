// The front end's modal boxes and modal forms, behind one seam so that tests can answer them.
#pragma once

#include <QString>

#include <functional>

class QDialog;

enum class TMsgDlgType { mtError, mtConfirmation, mtInformation };

// Results of a modal box or form.
enum TModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7, mrNoToAll = 9, mrYesToAll = 10 };

// Shows a modal box: error (title "Error"; OK, Cancel), confirmation (title "Confirm"; &Yes, &No,
// Cancel) or information (title "Information"; OK, Cancel). DefaultButton names the button that
// Enter presses (mrNone: the first). ToAll adds "Yes to &all" and "N&o to all" to a
// confirmation. Returns the button pressed.
int MessageDlg(const QString &Msg, TMsgDlgType DlgType, int DefaultButton = mrNone, bool ToAll = false);

// Shows a form modally until it closes; returns its result.
int ShowModalForm(QDialog &Form);

// Tests put answering functions here; empty functions restore the real boxes.
using TMessageDlgHook =
    std::function<int(const QString &Msg, TMsgDlgType DlgType, int DefaultButton, bool ToAll)>;
using TShowModalHook = std::function<int(QDialog &Form)>;
void SetMessageDlgHook(TMessageDlgHook Hook);
void SetShowModalHook(TShowModalHook Hook);
