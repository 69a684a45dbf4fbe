#pragma once

#include "screens/CMessageBox.h"
#include "tests/support/TestDataFile.h"
#include "tests/support/qt/FakeApplication.h"

#include <QApplication>
#include <QWidget>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace testsupport {

// Runs the Qt event loop until pred holds; false when the limit passed first.
bool waitProcessingEvents(const std::function<bool()>& pred,
                          std::chrono::milliseconds limit = std::chrono::seconds(10));

// Runs step once the event loop is running (inside the next exec()).
void whenShown(std::function<void()> step);

// The modal screen on top, if it is of type T.
template <class T> T* topModal() {
    return qobject_cast<T*>(QApplication::activeModalWidget());
}

// The child widget whose objectName is its role ("registerButton").
template <class T> T* control(QWidget* window, const char* role) {
    T* found = window->findChild<T*>(QString::fromLatin1(role));
    EXPECT_NE(found, nullptr) << "no control " << role;
    return found;
}

inline QString qs(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A key press delivered to the window, as if typed.
void pressKey(QWidget* window, int key);

// Every screen test: its own data file, the fake application, scripted
// message boxes and a fresh card-poll cache.
class ScreenTest : public ::testing::Test {
protected:
    ScreenTest();
    ~ScreenTest() override;

    // Answers for the coming Yes/No boxes, in order.
    static void answer(std::initializer_list<CMessageBox::Answer> answers);
    static std::vector<std::string> shownTexts();
    static std::string lastShown();

    TestDataFile data;
    FakeApplication app;
};

} // namespace testsupport
