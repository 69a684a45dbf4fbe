#include "app/CKioskMode.h"

#include <QDialog>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <algorithm>

namespace {

// Marks a screen already prepared, so a screen shown again is not scaled twice.
constexpr const char* kPrepared = "postonKioskPrepared";
// Texts grow with the screen, but never beyond this: a tall screen would
// otherwise push the buttons off it.
constexpr double kMaxScale = 3.0;
// Room kept around the content, as a share of the screen.
constexpr double kFill = 0.8;

// By class, so that the screen is known whatever its objectName.
bool isFirstScreen(const QObject* watched) {
    return watched->inherits(CKioskMode::kFirstScreen);
}

} // namespace

CKioskMode::CKioskMode(int pointerIdleMs, QObject* parent)
    : QObject(parent), m_idle(new QTimer(this)) {
    m_idle->setSingleShot(true);
    m_idle->setInterval(pointerIdleMs);
    connect(m_idle, &QTimer::timeout, this, &CKioskMode::hidePointer);
    m_idle->start();
}

CKioskMode::~CKioskMode() {
    if (m_pointerHidden)
        QGuiApplication::restoreOverrideCursor();
}

bool CKioskMode::requested(const QStringList& arguments) {
    return arguments.contains(QLatin1String(kOption));
}

bool CKioskMode::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Polish:
        // Polish comes before the first show: the frame and the state can
        // still change without the window flickering.
        // A message box stays a box over its screen.
        if (auto* screen = qobject_cast<QDialog*>(watched);
            screen && screen->isWindow() && !screen->inherits("QMessageBox"))
            prepare(screen);
        break;
    case QEvent::Show:
        // Showing may size the window to its content again.
        if (auto* screen = qobject_cast<QDialog*>(watched);
            screen && screen->isWindow() && screen->property(kPrepared).toBool())
            fillDisplay(screen);
        break;
    case QEvent::MouseMove:
    case QEvent::MouseButtonPress:
    case QEvent::TouchBegin:
    case QEvent::TabletMove:
        pointerMoved();
        break;
    case QEvent::Close:
        // The program ends its screens by result code, never by closing them:
        // a close of the first screen comes from outside (Alt+F4, the window
        // system) and would end the program.
        if (isFirstScreen(watched)) {
            event->ignore();
            return true;
        }
        break;
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape && watched->isWidgetType() &&
            isFirstScreen(static_cast<QWidget*>(watched)->window()))
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

void CKioskMode::prepare(QDialog* screen) {
    if (screen->property(kPrepared).toBool())
        return;
    screen->setProperty(kPrepared, true);
    const QScreen* display = screen->screen() ? screen->screen() : QGuiApplication::primaryScreen();
    if (display) {
        const QSize content = screen->sizeHint().expandedTo(screen->minimumSizeHint());
        const QSize available = display->size();
        if (content.width() > 0 && content.height() > 0) {
            const double scale =
                std::clamp(kFill * std::min(double(available.width()) / content.width(),
                                            double(available.height()) / content.height()),
                           1.0, kMaxScale);
            for (QWidget* widget : screen->findChildren<QWidget*>()) {
                QFont font = widget->font();
                if (font.pointSizeF() > 0) {
                    font.setPointSizeF(font.pointSizeF() * scale);
                    widget->setFont(font);
                }
            }
        }
    }
    QPalette plain = screen->palette();
    plain.setColor(QPalette::Window, Qt::white);
    screen->setPalette(plain);
    screen->setAutoFillBackground(true);
    screen->setWindowFlags(screen->windowFlags() | Qt::FramelessWindowHint);
    fillDisplay(screen);
}

void CKioskMode::fillDisplay(QDialog* screen) {
    // Without a window manager nobody honours the full-screen state: the
    // geometry says it too. It goes first, as a new geometry ends the state.
    const QScreen* display = screen->screen() ? screen->screen() : QGuiApplication::primaryScreen();
    if (display && screen->geometry() != display->geometry())
        screen->setGeometry(display->geometry());
    // Full screen rather than the start-minimised setting: nobody at a kiosk
    // could bring the window back.
    if (screen->windowState() != Qt::WindowFullScreen)
        screen->setWindowState(Qt::WindowFullScreen);
}

void CKioskMode::pointerMoved() {
    if (m_pointerHidden) {
        m_pointerHidden = false;
        QGuiApplication::restoreOverrideCursor();
    }
    m_idle->start();
}

void CKioskMode::hidePointer() {
    if (m_pointerHidden)
        return;
    m_pointerHidden = true;
    QGuiApplication::setOverrideCursor(Qt::BlankCursor);
}
