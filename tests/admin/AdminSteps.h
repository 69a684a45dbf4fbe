#pragma once

#include "screens/CBaseDialog.h"
#include "tests/support/qt/ScreenTest.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>

#include <vector>

// What an administrator does on a screen, each control named by its role.
namespace adminsteps {

using testsupport::control;
using testsupport::qs;
using Answer = CMessageBox::Answer;

inline constexpr const char* kCard = "0123456789ABCDEF";
inline constexpr const char* kOther = "1111111111111111";
inline constexpr const char* kNewCard = "FEDCBA9876543210";
inline constexpr const char* kPutCard = "カードをFeLiCaにセットしてください。";
inline constexpr const char* kBadAddress =
    "メールアドレスに空白や改行が含まれているか、@がありません";

inline void click(QWidget* screen, const char* role) {
    control<QAbstractButton>(screen, role)->click();
}
// Typing goes where the focus is.
inline void type(QWidget* screen, const char* role, const std::string& text) {
    if (auto* page = screen->findChild<QPlainTextEdit*>(qs(role))) {
        page->setFocus();
        page->setPlainText(QString::fromStdString(text));
        return;
    }
    control<QLineEdit>(screen, role)->setFocus();
    control<QLineEdit>(screen, role)->setText(QString::fromStdString(text));
}
inline std::string text(QWidget* screen, const char* role) {
    return control<QLineEdit>(screen, role)->text().toStdString();
}
// The reader's answer from now on (a card ID, nullptr none), seen at once.
inline void present(FakeApplication& app, CBaseDialog& screen, const CardPoll& poll) {
    app.setCard(poll);
    screen.OnTimer(CBaseDialog::kScreenTimerId);
}
inline void present(FakeApplication& app, CBaseDialog& screen, const char* card) {
    present(app, screen, card == nullptr ? CardPoll::noCard() : CardPoll::card(CString(card)));
}
// A complete mail setting: sender, subject, server with port and account.
inline void storeMailSettings(const testsupport::TestDataFile& data) {
    data.script(
        "UPDATE t_def_data SET column_value = v.column2 FROM (VALUES ('mail_user', '受付'), "
        "('mail_address', 'desk@example.jp'), ('mail_subject', '来訪'), ('mail_acount', 'desk'), "
        "('mail_server_ip', 'smtp.example.jp'), ('mail_server_port', '587'), "
        "('mail_password', 'secret')) AS v WHERE column_name = v.column1");
}
// The list's entries as one text, "a, b".
inline std::string listed(QWidget* screen, const char* role) {
    auto* list = control<QListWidget>(screen, role);
    QStringList texts;
    for (int row = 0; row < list->count(); ++row)
        texts << list->item(row)->text();
    return texts.join(QStringLiteral(", ")).toStdString();
}
// Every message shown so far as one text, "a | b", and the last caption.
inline std::string shown() {
    std::string all;
    for (const CMessageBox::Record& record : CMessageBox::shown())
        all += (all.empty() ? "" : " | ") + record.text.str();
    return all;
}
inline std::string caption() {
    return CMessageBox::shown().empty() ? "" : CMessageBox::shown().back().caption.str();
}

// Steps, each done as the control's kind asks: "role" presses a button, ticks
// a check box or double-clicks the list's marked entry, "role=value" types
// into an edit, marks the list entry or chooses the combo box entry of that
// text by hand, or sets a check box ("off" clears it); "enter" presses Enter
// where the focus is; "yes" and "no" answer the next message box (an OK box
// takes an answer too); "" does nothing.
using Steps = std::vector<std::string>;
inline void perform(QWidget* screen, const Steps& steps) {
    for (const std::string& step : steps) {
        const std::size_t equals = step.find('=');
        const std::string role = step.substr(0, equals);
        const std::string value = equals == std::string::npos ? "" : step.substr(equals + 1);
        if (role.empty()) {
            continue;
        } else if (role == "yes" || role == "no") {
            CMessageBox::setNextAnswer(role == "yes" ? Answer::Yes : Answer::No);
        } else if (role == "enter") {
            QWidget* focused = screen->focusWidget();
            testsupport::pressKey(focused ? focused : screen, Qt::Key_Return);
        } else if (role.ends_with("Button")) {
            click(screen, role.c_str());
        } else if (role.ends_with("Edit")) {
            type(screen, role.c_str(), value);
        } else if (role.ends_with("List")) {
            auto* list = control<QListWidget>(screen, role.c_str());
            if (equals == std::string::npos)
                emit list->itemDoubleClicked(list->selectedItems().value(0));
            for (QListWidgetItem* item :
                 list->findItems(QString::fromStdString(value), Qt::MatchExactly))
                item->setSelected(true);
        } else if (role.ends_with("Combo")) {
            auto* combo = control<QComboBox>(screen, role.c_str());
            combo->setCurrentIndex(combo->findText(QString::fromStdString(value)));
            emit combo->activated(combo->currentIndex());
        } else {
            control<QCheckBox>(screen, role.c_str())->setChecked(value != "off");
        }
    }
}

} // namespace adminsteps
