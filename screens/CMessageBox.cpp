#include "screens/CMessageBox.h"

#include "screens/CBaseDialog.h"
#include "screens/QtText.h"

#include <QMessageBox>
#include <QPushButton>

#include <deque>

namespace {

struct Script {
    bool scripted = false;
    std::deque<CMessageBox::Answer> answers;
    std::vector<CMessageBox::Record> shown;
};

Script& script() {
    static Script s;
    return s;
}

CMessageBox::Answer scriptedAnswer(CMessageBox::Answer fallback) {
    Script& s = script();
    if (s.answers.empty())
        return fallback;
    const CMessageBox::Answer answer = s.answers.front();
    s.answers.pop_front();
    return answer;
}

// Enter presses the first button (OK, or Yes), Escape the last.
CMessageBox::Answer run(QWidget* parent, CMessageBox::Kind kind, const CString& text,
                        const CString& caption) {
    QMessageBox box(parent);
    box.setWindowTitle(qt(caption));
    box.setText(qt(text));
    box.setFont(CBaseDialog::japaneseFont());
    box.setWindowIcon(CBaseDialog::programIcon());
    if (kind != CMessageBox::YesNoBox) {
        box.setIcon(kind == CMessageBox::WarningBox ? QMessageBox::Warning
                                                    : QMessageBox::Information);
        QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box.setDefaultButton(ok);
        box.setEscapeButton(ok);
        box.exec();
        return CMessageBox::Ok;
    }
    box.setIcon(QMessageBox::Question);
    QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    return box.clickedButton() == yes ? CMessageBox::Yes : CMessageBox::No;
}

} // namespace

void CMessageBox::ok(QWidget* parent, const CString& text, const CString& caption) {
    show(parent, OkBox, text, caption);
}

void CMessageBox::warn(QWidget* parent, const CString& text, const CString& caption) {
    show(parent, WarningBox, text, caption);
}

void CMessageBox::show(QWidget* parent, Kind kind, const CString& text, const CString& caption) {
    Script& s = script();
    if (s.scripted) {
        s.shown.push_back({kind, text, caption});
        scriptedAnswer(Ok);
        return;
    }
    run(parent, kind, text, caption);
}

CMessageBox::Answer CMessageBox::yesNo(QWidget* parent, const CString& text,
                                       const CString& caption) {
    Script& s = script();
    if (s.scripted) {
        s.shown.push_back({YesNoBox, text, caption});
        return scriptedAnswer(No) == Yes ? Yes : No;
    }
    return run(parent, YesNoBox, text, caption);
}

void CMessageBox::setScripted(bool scripted) {
    script().scripted = scripted;
}

bool CMessageBox::isScripted() {
    return script().scripted;
}

void CMessageBox::setNextAnswer(Answer answer) {
    script().scripted = true;
    script().answers.push_back(answer);
}

const std::vector<CMessageBox::Record>& CMessageBox::shown() {
    return script().shown;
}

void CMessageBox::resetForTesting() {
    script() = Script();
}
