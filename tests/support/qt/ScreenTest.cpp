#include "tests/support/qt/ScreenTest.h"

#include "screens/CCardPollCache.h"
#include "tests/support/WaitUntil.h"

#include <QKeyEvent>
#include <QTimer>

namespace testsupport {

bool waitProcessingEvents(const std::function<bool()>& pred, std::chrono::milliseconds limit) {
    const auto held = [&pred] {
        if (pred())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        return false;
    };
    return iotest::waitUntil(held, limit);
}

void whenShown(std::function<void()> step) {
    QTimer::singleShot(0, [step = std::move(step)] { step(); });
}

void pressKey(QWidget* window, int key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(window, &press);
}

ScreenTest::ScreenTest() {
    CMessageBox::resetForTesting();
    CMessageBox::setScripted(true);
    CCardPollCache::resetForTesting();
}

ScreenTest::~ScreenTest() {
    CMessageBox::resetForTesting();
}

void ScreenTest::answer(std::initializer_list<CMessageBox::Answer> answers) {
    for (const CMessageBox::Answer a : answers)
        CMessageBox::setNextAnswer(a);
}

std::vector<std::string> ScreenTest::shownTexts() {
    std::vector<std::string> texts;
    for (const CMessageBox::Record& record : CMessageBox::shown())
        texts.push_back(record.text.str());
    return texts;
}

std::string ScreenTest::lastShown() {
    const auto& shown = CMessageBox::shown();
    return shown.empty() ? std::string() : shown.back().text.str();
}

} // namespace testsupport
