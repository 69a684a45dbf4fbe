#pragma once

#include "nvktl/CMapStringToString.h"

#include <vector>

class QWidget;

// The program's message boxes, each with the screen's caption: an OK box for
// results, the same with the warning icon for refusals and errors, a Yes/No
// box for confirmations. Runs on the
// user-interface thread; the box is modal and keeps the event loop (and so the
// send thread's requests) running while it is open.
//
// Tests script the answers: once setNextAnswer() has been called, or while
// scripted mode is on, no box is shown; each box takes the next scripted
// answer (OK for an OK box, No for a Yes/No box when none is left) and every
// scripted box is recorded with its kind, text and caption.
class CMessageBox {
public:
    enum Answer { Ok, Yes, No };
    enum Kind { OkBox, WarningBox, YesNoBox };

    struct Record {
        Kind kind;
        CString text;
        CString caption;
    };

    static void ok(QWidget* parent, const CString& text, const CString& caption);
    // Why something cannot go ahead, or did not.
    static void warn(QWidget* parent, const CString& text, const CString& caption);
    // Yes or No.
    static Answer yesNo(QWidget* parent, const CString& text, const CString& caption);

    // Test hooks.
    static void setScripted(bool scripted);
    static bool isScripted();
    static void setNextAnswer(Answer answer);
    static const std::vector<Record>& shown();
    // Scripted mode off, answers and records cleared.
    static void resetForTesting();

private:
    static void show(QWidget* parent, Kind kind, const CString& text, const CString& caption);
};
