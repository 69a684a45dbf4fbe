#pragma once

#include <QDialog>

#include "screens/ScreenCode.h"

#include <map>
#include <set>

// moc cannot parse the standard headers that nvktl/CString.h pulls in, so
// headers with Q_OBJECT only declare it.
namespace NVKTL {
class CString;
}
using CString = NVKTL::CString;
struct CDataRequest;
enum class DataResult;
class CMapStringToString;

class CProgressStatusBar;
class QAbstractButton;
class QTimer;

// The common base of the program's screens. It gives every screen the program
// icon, the about box (window context menu and the "?" in the status bar), a
// status bar with the send thread's progress, a base timer that polls the card
// reader every 200 ms, the screen's own timers, and the binding of the send
// thread to the screen while it is open.
//
// Life of a screen: the derived constructor builds the controls; OnInitDialog
// runs once, just before the window is first shown (exec() or show()); the
// screen ends with done(code), which stops its timers and detaches the send
// thread before the window goes away. A screen may end inside OnInitDialog;
// exec() then returns that code as soon as its loop runs.
//
// Layouts come from .ui files under resources/. Every widget's objectName is
// its role followed by its kind ("endButton", "greetingLabel"); a dialog's is
// its class name. The first field a person types in has the focus when the
// screen opens.
//
// Keys: Enter presses the focused push button, else the button the screen set
// for the focused field or for the whole screen (setEnterButton), and ends no
// screen by itself; Escape and the window's close box call OnCancel, which
// ends the screen with UserConfirmation unless the screen says otherwise.
class CBaseDialog : public QDialog {
    Q_OBJECT
public:
    // Shared result codes of the "終了" and "戻る" buttons.
    static constexpr int kResultConfirm = resultOf(ScreenCode::UserConfirmation);
    static constexpr int kResultAdminMenu = resultOf(ScreenCode::AdminMenu);
    static constexpr int kScreenTimerId = 100;
    static constexpr int kBaseTimerPeriod = 200;

    explicit CBaseDialog(unsigned templateId, QWidget* parent = nullptr);
    ~CBaseDialog() override;

    unsigned templateId() const { return m_templateId; }
    // The base timer's id (template id + 50), 0 while it is stopped.
    int baseTimerId() const { return m_baseTimerId; }
    bool isScreenTimerActive(int id) const;
    CProgressStatusBar* statusBar() const { return m_statusBar; }

    // Starts the base timer if it is stopped, then the screen's own timer id
    // with the period in milliseconds. Returns id.
    int setScreenTimer(int id, int periodMs);
    // Stops the base timer and the screen's own timer id (around a modal
    // sub-screen).
    void killScreenTimer(int id);
    // setScreenTimer for a timer that polls the reader for a card: besides
    // its ticks, the timer's handler runs at once (within this call, so a
    // screen may end while it initialises) and whenever the cards on the
    // reader change while the timer is active.
    int setCardTimer(int id, int periodMs);

    // A tick of the base timer or of one of the screen's timers. Screens
    // override it, handle their own ids, and pass every tick they do not
    // consume on to this version.
    virtual void OnTimer(int id);

    // The send thread's requests, on the user-interface thread.
    virtual DataResult OnDataRequest(CDataRequest& request);
    virtual void OnProgressStart(int position, int maximum);
    virtual void OnProgressEnd();
    virtual void OnStatusText(const CString& text);
    // The number of mails waiting for another try, each time the send thread
    // has counted them.
    virtual void OnWaitingCount(int /*count*/) {}

    // The about box; the base timer stops while it is open.
    void showAboutBox();

    void done(int result) override;
    void reject() override;
    void setVisible(bool visible) override;

    // The program icon (one for every window).
    static QIcon programIcon();
    // The font for Japanese text, in points (0 keeps the default size).
    static QFont japaneseFont(int pointSize = 0);
    // Every push button of the screen loses the default and auto-default
    // roles: Enter is the screen's own (pressOnEnter).
    static void clearDefaultButtons(QWidget* window);
    // Enter: clicks the focused push button, else fallback, when that one is
    // enabled and visible.
    static void pressOnEnter(QWidget* focused, QAbstractButton* fallback);
    // Focuses the first editable text field in the tab order, else the first
    // list or combo box; without either the focus stays where Qt puts it.
    static void focusFirstField(QWidget* window);

protected:
    // Runs once before the window is first shown. Derived screens call the
    // base version first.
    virtual bool OnInitDialog();
    // Escape and the close box. Ends the screen with UserConfirmation by default.
    virtual void OnCancel();
    // "終了" (-1) and "戻る" (-3) unless the screen says otherwise.
    virtual void OnEnd() { done(kResultConfirm); }
    virtual void OnBack() { done(kResultAdminMenu); }
    // Connects "endButton" ("終了") to OnEnd and "backButton" ("戻る") to
    // OnBack, where the screen has them.
    void connectSharedButtons();
    // The button Enter presses: the screen's main one, or with field the one
    // for that field while it has the focus.
    void setEnterButton(QAbstractButton* button, QWidget* field = nullptr);

    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

    // The screen's centre on the desktop, the point saved as window_left /
    // window_top.
    QPoint windowCentre() const;
    // Places the window so that its centre is the point (left = x - w/2,
    // top = y - h/2, halves truncated).
    void centreWindowOn(int x, int y);
    // Hides the control and makes the window shorter by its height, keeping
    // left, top and width.
    void hideAndShrink(QWidget* control);
    // Centres the window on the saved point when the settings hold both
    // window_left and window_top (decimal text; leading number only).
    void placeFromSettings(const CMapStringToString& settings);

private:
    void startBaseTimer();
    void stopBaseTimer();
    void layOutStatusBar();
    void attachSendThread();
    void detachSendThread();
    void stopAllTimers();
    void lookAtReader(int id);

    unsigned m_templateId;
    int m_baseTimerId = 0;
    QTimer* m_baseTimer;
    std::map<int, QTimer*> m_screenTimers;
    // By field; nullptr for the whole screen.
    std::map<QWidget*, QAbstractButton*> m_enterButtons;
    // The ids of setCardTimer, and whether one of their handlers is running.
    std::set<int> m_cardTimers;
    bool m_inCardTick = false;
    CProgressStatusBar* m_statusBar = nullptr;
    bool m_initialised = false;
    bool m_inInit = false;
    bool m_endedInInit = false;
    int m_endResult = 0;
    bool m_attached = false;
};
