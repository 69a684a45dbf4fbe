#pragma once

#include <QObject>
#include <QSize>
#include <QString>

#include <string>
#include <vector>

class QDialog;
class QTimer;

// Kiosk mode, for a terminal that visitors face alone: every screen fills the
// display without a frame on a plain background, drawn at one scale chosen
// for the display, so each screen's own layout arranges its controls over the
// whole display; the mouse pointer hides after a while without movement; and
// the first screen cannot be closed from the keyboard or the window system
// (Escape, Alt+F4, a close button). Installed on the application as an event
// filter, so the screens themselves know nothing of it.
class CKioskMode : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kOption = "--kiosk";
    static constexpr int kPointerIdleMs = 3000;
    // The class of the screen a visitor rests on.
    static constexpr const char* kFirstScreen = "CPostonDlg";
    // The room the largest screen (the user change) needs at scale 1,
    // status bar included.
    static constexpr QSize kLayoutRoom{800, 640};
    static constexpr double kMaxScale = 4.0;

    explicit CKioskMode(int pointerIdleMs = kPointerIdleMs, QObject* parent = nullptr);
    ~CKioskMode() override;

    // True when the program's arguments ask for kiosk mode.
    static bool requested(const QStringList& arguments);

    // The scale of every screen on a display of this size: the largest
    // quarter step at which kLayoutRoom still fits, at least 1.
    static double scaleFor(const QSize& display);
    // Qt takes its scale (texts, check boxes, spacing and fixed sizes alike)
    // only as it starts, from QT_SCALE_FACTOR. Sets it for the display and
    // returns true, or returns false when a scale is already set (by an
    // earlier start or by hand) or none is needed.
    static bool chooseScale(const QSize& display);
    // With a QApplication running: when chooseScale() sets a scale for the
    // primary display, starts this program again with the same arguments so
    // that it takes effect. Returns only when no new start was needed or it
    // could not be made.
    static void restartScaled(const std::vector<std::string>& arguments);

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void prepare(QDialog* screen);
    void fillDisplay(QDialog* screen);
    void pointerMoved();
    void hidePointer();

    QTimer* m_idle;
    bool m_pointerHidden = false;
};
