#include "delivery/CBaseThread.h"

namespace {
constexpr unsigned kPeriodMs = 1000;
} // namespace

CBaseThread::CBaseThread() {
    setInterval(kPeriodMs);
}

CBaseThread::~CBaseThread() {
    stop();
}

bool CBaseThread::onTimer() {
    bool expected = false;
    if (!m_busy.compare_exchange_strong(expected, true))
        return true;
    if (getWindow() != nullptr)
        execute();
    m_busy.store(false);
    return true;
}

void CBaseThread::setWindow(ISendWindow* window) {
    m_window.store(window);
    start();
}

void CBaseThread::resetWindow() {
    m_window.store(nullptr);
    stopTimer();
}

ISendWindow* CBaseThread::getWindow() const {
    return m_window.load();
}

int CBaseThread::sendCommandArray(const char* name, void* const* args) {
    ISendWindow* window = getWindow();
    if (window == nullptr)
        return ISendWindow::kNoWindow;
    return window->dataRequest(name, args);
}

int CBaseThread::sendCommand(const char* name, void* a1) {
    void* const args[] = {a1};
    return sendCommandArray(name, args);
}

int CBaseThread::sendCommand(const char* name, void* a1, void* a2) {
    void* const args[] = {a1, a2};
    return sendCommandArray(name, args);
}

int CBaseThread::sendCommand(const char* name, void* a1, void* a2, void* a3) {
    void* const args[] = {a1, a2, a3};
    return sendCommandArray(name, args);
}

int CBaseThread::sendCommand(const char* name, void* a1, void* a2, void* a3, void* a4, void* a5) {
    void* const args[] = {a1, a2, a3, a4, a5};
    return sendCommandArray(name, args);
}

void CBaseThread::progressStart(int position, int maximum) {
    if (ISendWindow* window = getWindow())
        window->progressStart(position, maximum);
}

void CBaseThread::progressEnd() {
    if (ISendWindow* window = getWindow())
        window->progressEnd();
}

void CBaseThread::statusText(const char* text) {
    if (ISendWindow* window = getWindow())
        window->statusText(text);
}
