#pragma once

#include <QObject>
#include <QString>

class QDialog;
class QTimer;

// Kiosk mode, for a terminal that visitors face alone: every screen fills the
// screen without a frame on a plain background, its texts scaled to the
// screen; the mouse pointer hides after a while without movement; and the
// first screen cannot be closed from the keyboard or the window system
// (Escape, Alt+F4, a close button). Installed on the application as an event
// filter, so the screens themselves know nothing of it.
class CKioskMode : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kOption = "--kiosk";
    static constexpr int kPointerIdleMs = 3000;
    // The class of the screen a visitor rests on.
    static constexpr const char* kFirstScreen = "CPostonDlg";

    explicit CKioskMode(int pointerIdleMs = kPointerIdleMs, QObject* parent = nullptr);
    ~CKioskMode() override;

    // True when the program's arguments ask for kiosk mode.
    static bool requested(const QStringList& arguments);

    bool pointerHidden() const { return m_pointerHidden; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void prepare(QDialog* screen);
    void fillDisplay(QDialog* screen);
    void pointerMoved();
    void hidePointer();

    QTimer* m_idle;
    bool m_pointerHidden = false;
};
