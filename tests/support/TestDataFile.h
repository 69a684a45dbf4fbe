#pragma once

#include "nvktl/CMapStringToString.h"
#include "nvktl/vector.h"

#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Rows read with SQL of the test's own; NULL reads as "<null>".
using Rows = std::vector<std::vector<std::string>>;
// Rows a data operation gave, by column name.
using RowMaps = std::vector<std::map<std::string, std::string>>;

// The store a data operation runs on, as the tests seed and inspect it: with
// SQL of their own, independent of the data operations under test. Values
// are bound as texts in order ("?"); NULL reads as "<null>".
class TestStore {
public:
    struct Delivery {
        std::string mail, state;
        int tries = 0;
        std::string nextTry, lastError;
    };
    struct Visit {
        std::string loginId, userId, loginDate, retSend, retSendDate;
    };

    virtual ~TestStore() = default;

    // One statement with the values bound as texts, in order.
    virtual Rows query(const std::string& sql,
                       const std::vector<std::string>& values = {}) const = 0;
    // Several statements without values (a script).
    virtual void script(const std::string& sql) const = 0;
    // Makes every change of table fail, as on a store that cannot be
    // written (root ignores file modes, so a read-only file would not do);
    // allowWrites undoes it.
    virtual void refuseWrites(const std::string& table) const = 0;
    virtual void allowWrites(const std::string& table) const = 0;
    // The column that orders a user's addresses as they were added.
    virtual std::string addressOrder() const = 0;

    // query's rows as one text (see joined).
    std::string text(const std::string& sql, const std::vector<std::string>& values = {}) const;
    // The first cell of the first row, "<none>" without a row.
    std::string value(const std::string& sql, const std::vector<std::string>& values = {}) const;

    // Settings: value() is "<null>" for NULL and "<none>" without a row.
    void setSetting(const std::string& key, const std::string& value) const;
    std::string setting(const std::string& key) const;

    // A group at the end of the order; returns its group_id. Group 1 holds
    // the administrators, group 2 the ordinary users.
    std::string addGroup(const std::string& name, bool deleteMark = false) const;
    // A user at the end of the order with the given addresses.
    void addUser(const std::string& userId, const std::string& name,
                 const std::string& groupId = "2",
                 const std::vector<std::string>& mails = {}) const;
    // A due visit with one due delivery per address the user has now, as a
    // recorded visit has; returns its login_id.
    std::string addVisit(const std::string& userId, const std::string& loginDate) const;

    std::vector<Visit> visits() const;
    // The visit's deliveries, in the order they were recorded.
    std::vector<Delivery> deliveries(const std::string& loginId) const;
    std::string sendId(const std::string& loginId, const std::string& mail) const;

    // Every group, user and address, to compare before and after.
    Rows snapshot() const;
};

// The one data file of every test: a private folder holding a fresh copy of
// the built master file as "poston.mdb" (unless withDataFile is false), made
// the data folder of every CDbAccess while it lives and removed with all in
// it.
class TestDataFile : public TestStore {
public:
    explicit TestDataFile(bool withDataFile = true);
    ~TestDataFile() override;
    TestDataFile(const TestDataFile&) = delete;
    TestDataFile& operator=(const TestDataFile&) = delete;

    // The folder, ending with "/", and files inside it.
    const std::string& folder() const { return m_folder; }
    std::string file(const std::string& name) const { return m_folder + name; }
    std::string path() const { return file("poston.mdb"); }

    Rows query(const std::string& sql, const std::vector<std::string>& values = {}) const override;
    void script(const std::string& sql) const override;
    void refuseWrites(const std::string& table) const override;
    void allowWrites(const std::string& table) const override;
    std::string addressOrder() const override { return "rowid"; }

private:
    std::string m_folder;
};

// One statement on any database file, values bound as texts, in order.
Rows queryFile(const std::string& file, const std::string& sql,
               const std::vector<std::string>& values = {});
// Copies the rows out of an operation's row vector and releases it through a
// CDbAccess of its own, as the screens do.
RowMaps takeRows(NVKTL::vector<CMapStringToString*>& rows);

// Rows as one short text for an expectation: cells joined by " ", each row
// ended by ";". For row maps, the given columns in that order.
std::string joined(const Rows& rows);
std::string joined(const RowMaps& rows, const std::vector<std::string>& columns);

// Settings or a row as the code under test takes them, from literal pairs.
CMapStringToString textMap(std::initializer_list<std::pair<const char*, std::string>> entries);

// The built master file.
std::string masterFile();
// A fresh private folder under the temporary folder, ending with "/".
std::string makeTempFolder(const std::string& prefix);
void removeTree(const std::string& path);
std::string readBytes(const std::string& file);
void writeBytes(const std::string& file, const std::string& bytes);
bool fileExists(const std::string& file);
// The names in a folder, sorted, each followed by ";".
std::string listFolder(const std::string& folder);
// The file's permission bits, 0 when it does not exist.
unsigned fileMode(const std::string& file);

} // namespace testsupport
