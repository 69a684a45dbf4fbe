#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct sqlite3;

// A data file of the tests' own: a fresh copy of the built master file in a
// folder of its own, made the program's data folder for the object's life.
// The tests seed and inspect it with SQL of their own, independent of the
// data operations under test.
class TestDataFile {
public:
    struct MailError {
        std::string loginId, userId, mail, errorDate, errorMessage;
    };

    struct Delivery {
        std::string mail, state;
        int tries = 0;
        std::string nextTry, lastError;
    };

    TestDataFile();
    ~TestDataFile();
    TestDataFile(const TestDataFile&) = delete;
    TestDataFile& operator=(const TestDataFile&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }

    void setSetting(const std::string& key, const std::string& value);
    void renameGroup(const std::string& groupId, const std::string& name);
    // A user of the ordinary group with the given addresses.
    void addUser(const std::string& userId, const std::string& name,
                 const std::vector<std::string>& mails);
    // A due visit; returns its login_id.
    std::string addVisit(const std::string& userId, const std::string& loginDate);

    std::string state(const std::string& loginId);
    std::string stateDate(const std::string& loginId);
    std::vector<MailError> mailErrors();
    // The visit's deliveries, in the order they were recorded.
    std::vector<Delivery> deliveries(const std::string& loginId);
    std::string sendId(const std::string& loginId, const std::string& mail);
    // A statement of the test's own (changing a user, making retries due).
    void exec(const std::string& sql);

private:
    void run(const std::string& sql, const std::vector<std::string>& values);
    std::vector<std::vector<std::string>> query(const std::string& sql,
                                                const std::vector<std::string>& values);

    std::filesystem::path m_folder;
    sqlite3* m_db = nullptr;
};
