// For tests that drive the main window: what a message box showed, list helpers, and an
// operator that answers every box and modal form through the window's seams.
#pragma once

#include "Unit1.h"
#include "Unit2.h"
#include "Unit3.h"
#include "cabrix.h"
#include "msgbox.h"

#include <QApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QListWidget>
#include <QSettings>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <ostream>
#include <vector>

struct Box {
    TMsgDlgType type;
    QString text;
    int defaultButton = mrNone;
    bool toAll = false; // offers "Yes to all" and "No to all"
    bool operator==(const Box &) const = default;
};

inline void PrintTo(const Box &b, std::ostream *os)
{
    static const char *kinds[] = {"error", "question", "notice"};
    *os << kinds[static_cast<int>(b.type)] << ": " << b.text.toStdString();
    if (b.defaultButton == mrNo)
        *os << " [No]";
    if (b.toAll)
        *os << " [to all]";
}

inline Box Error(const QString &t) { return {TMsgDlgType::mtError, t}; }
inline Box Question(const QString &t) { return {TMsgDlgType::mtConfirmation, t, mrYes}; }
// A question whose default button is No: Enter alone does not let it go on.
inline Box QuestionDefaultNo(const QString &t) { return {TMsgDlgType::mtConfirmation, t, mrNo}; }
// An overwrite question of a copy of several files.
inline Box OverwriteToAll(const QString &t) { return {TMsgDlgType::mtConfirmation, t, mrNo, true}; }
inline Box Notice(const QString &t) { return {TMsgDlgType::mtInformation, t}; }

inline QStringList Items(const QListWidget *list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items.append(list->item(i)->text());
    return items;
}

// Gives the widget the focus event the window watches to know which list the operator is in.
inline void Enter(QWidget *w)
{
    QFocusEvent focus(QEvent::FocusIn);
    QApplication::sendEvent(w, &focus);
}

// Selects this item and no other, as a plain click does. QListWidget::setCurrentItem(item) alone
// would add it to a selection the window kept over a relist (the file just copied, say), when
// that one sorts before it.
inline void Select(QListWidget *list, const QString &text)
{
    const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << text.toStdString();
    list->setCurrentItem(found.front(), QItemSelectionModel::ClearAndSelect);
}

// Selects these items and no others, as Ctrl and clicks would.
inline void SelectSeveral(QListWidget *list, const QStringList &texts)
{
    list->clearSelection();
    for (const QString &text : texts) {
        const QList<QListWidgetItem *> found = list->findItems(text, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << text.toStdString();
        found.front()->setSelected(true);
    }
}

// Deletes the three forms, as the program's end does.
inline void DeleteForms()
{
    delete Form3;
    delete Form2;
    delete Form1;
    Form1 = nullptr;
    Form2 = nullptr;
    Form3 = nullptr;
}

// Stands in for the operator: records every message box and modal form the window shows,
// answers questions from `answers` (Cancel once it is empty) and everything else with OK. The
// window's settings live in a folder of its own, empty at first: every test starts as a first
// start ever. When it goes, the three forms are deleted and the seams cleared.
class WindowOperator {
public:
    WindowOperator()
    {
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsDir.path());
        SetMessageDlgHook([this](const QString &text, TMsgDlgType type, int defaultButton, bool toAll) {
            boxes.push_back({type, text, defaultButton, toAll});
            if (onBox)
                onBox(boxes.back());
            if (type != TMsgDlgType::mtConfirmation)
                return static_cast<int>(mrOk);
            if (answers.empty())
                return static_cast<int>(mrCancel);
            const int answer = answers.front();
            answers.pop_front();
            return answer;
        });
        SetShowModalHook([this](QDialog &form) {
            modalShown.push_back(form.objectName());
            return static_cast<int>(mrOk);
        });
    }
    ~WindowOperator()
    {
        DeleteForms();
        SetMessageDlgHook({});
        SetShowModalHook({});
        SetToolFolderOverride(QString());
    }
    WindowOperator(const WindowOperator &) = delete;
    WindowOperator &operator=(const WindowOperator &) = delete;

    QTemporaryDir settingsDir;
    std::vector<Box> boxes;
    std::deque<int> answers;
    std::function<void(const Box &)> onBox; // called as each box shows, before it is answered
    std::vector<QString> modalShown;
};
