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
#include <cmath>
#include <unistd.h>

namespace {

// Marks a screen already prepared.
constexpr const char* kPrepared = "postonKioskPrepared";
constexpr const char* kScaleVariable = "QT_SCALE_FACTOR";

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

double CKioskMode::scaleFor(const QSize& display) {
    const double fits = std::min(double(display.width()) / kLayoutRoom.width(),
                                 double(display.height()) / kLayoutRoom.height());
    // In quarter steps, so that every display gets a round figure.
    return std::clamp(std::floor(fits * 4) / 4, 1.0, kMaxScale);
}

bool CKioskMode::chooseScale(const QSize& display) {
    const double scale = scaleFor(display);
    if (qEnvironmentVariableIsSet(kScaleVariable) || scale == 1.0)
        return false;
    qputenv(kScaleVariable, QByteArray::number(scale));
    return true;
}

void CKioskMode::restartScaled(const std::vector<std::string>& arguments) {
    const QScreen* display = QGuiApplication::primaryScreen();
    if (display == nullptr || arguments.empty() || !chooseScale(display->size()))
        return;
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    ::execv("/proc/self/exe", argv.data());
    // Not started again: the screens stay at Qt's own scale.
    qunsetenv(kScaleVariable);
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
        // A screen that ends (QDialog::done) closes itself, and the first
        // screen must be able to end. A close from the window system
        // (Alt+F4, a close button) arrives spontaneously and would end the
        // program: that one is refused.
        if (event->spontaneous() && isFirstScreen(watched)) {
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
