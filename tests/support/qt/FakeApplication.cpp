#include "tests/support/qt/FakeApplication.h"

FakeApplication::FakeApplication() : m_previous(theApp()) {
    setTheApp(this);
}

FakeApplication::~FakeApplication() {
    dispatcher.shutdown();
    setTheApp(m_previous);
}

void FakeApplication::setCard(const CardPoll& poll) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_card = poll;
}

CardPoll FakeApplication::pollCard() {
    ++m_polls;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_card;
}

void FakeApplication::attachSendWindow(CBaseDialog* window) {
    ++attaches;
    dispatcher.bind(window);
}

void FakeApplication::detachSendWindow(CBaseDialog* window) {
    ++detaches;
    dispatcher.unbind(window);
}
