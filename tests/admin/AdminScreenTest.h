#pragma once

#include "nvktl/CString.h"
#include "screens/CMessageBox.h"
#include "screens/IApplication.h"

#include <QWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

// The application as the administration screens see it, with a card on the
// reader that the test sets ("no" at first).
class FakeApplication : public IApplication {
public:
    explicit FakeApplication(std::string folder) : m_folder(std::move(folder)) {}

    CString card = CString("no");
    int attached = 0;

    CString getBaseDir() override { return CString(m_folder); }
    CString getDataDir() override { return CString(m_folder); }
    CString getVarDir() override { return CString(m_folder); }
    CString getCardId() override { return card; }
    // The screen the send thread talks to, as the application keeps it.
    CBaseDialog* bound = nullptr;

    void attachSendWindow(CBaseDialog* window) override {
        ++attached;
        bound = window;
    }
    void detachSendWindow(CBaseDialog* window) override {
        --attached;
        if (bound == window)
            bound = nullptr;
    }
    void requestSendEnd(NVKTL::CEvent*) override {}

private:
    std::string m_folder;
};

// Every screen test runs on a fresh copy of the master file in a folder of
// its own, with the fake application installed and message boxes scripted.
// The data file is seeded and read back with SQL of the test's own.
class AdminScreenTest : public ::testing::Test {
protected:
    using Rows = std::vector<std::vector<std::string>>;

    AdminScreenTest();
    ~AdminScreenTest() override;

    // Runs sql with the values bound in order; NULL reads as "<null>".
    Rows query(const std::string& sql, const std::vector<std::string>& values = {});
    std::string value(const std::string& sql, const std::vector<std::string>& values = {});

    // Test data: a group (returns its group_id), a user with addresses.
    std::string addGroup(const std::string& name, bool deleteMark = false);
    void addUser(const std::string& userId, const std::string& name, const std::string& groupId,
                 const std::vector<std::string>& mails = {});
    // Makes every change of table fail, as on a file that cannot be written
    // (root ignores file modes, so a read-only file would not do).
    void refuseWrites(const std::string& table);
    // Every group, user and address, to compare before and after an action.
    Rows snapshot();
    // The settings value of key, "<null>" for NULL, "<none>" without a row.
    std::string setting(const std::string& key);

    // Answers for the coming Yes/No boxes, in order.
    static void answer(std::initializer_list<CMessageBox::Answer> answers);
    static std::vector<std::string> shownTexts();
    static std::string lastShown();

    std::filesystem::path folder;
    FakeApplication app;
};

// The control with the given numeric id.
template <typename T> T* control(QWidget* window, const char* id) {
    T* found = window->findChild<T*>(QString::fromLatin1(id));
    EXPECT_NE(found, nullptr) << "no control " << id;
    return found;
}

inline QString qs(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// A key press delivered to the window, as if typed.
void pressKey(QWidget* window, int key);
