// Figures of the data store on files of realistic size:
//  - the send thread's due-visit query on 1,000,000 visits (1,000 of them due),
//    with the master file's indexes and without them;
//  - recording a visit and recognising a card, each with its open and close;
//  - the migration of 10,000 users, 20,000 addresses, 200,000 visits and
//    10,000 mail errors.
#include "bench/support/BenchTiming.h"
#include "data/CDataFiles.h"
#include "data/CDbAccess.h"

#include <sqlite3.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

using bench::median;
using bench::millisecondsOf;

namespace {

constexpr int users = 10'000;

struct Database {
    explicit Database(const std::string& file) {
        if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
            std::fprintf(stderr, "cannot open %s\n", file.c_str());
            std::exit(1);
        }
        run("PRAGMA synchronous=OFF");
        run("BEGIN");
    }
    ~Database() {
        run("COMMIT");
        sqlite3_close(db);
    }
    void run(const char* sql) {
        char* error = nullptr;
        if (sqlite3_exec(db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
            std::fprintf(stderr, "%s: %s\n", sql, error ? error : "?");
            std::exit(1);
        }
    }
    // Runs sql once per row, binding the texts that fill returns.
    void insert(const char* sql, int rows,
                const std::function<std::vector<std::string>(int)>& fill) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
        for (int i = 0; i < rows; ++i) {
            const std::vector<std::string> values = fill(i);
            for (std::size_t v = 0; v < values.size(); ++v) {
                if (values[v] == "<null>")
                    sqlite3_bind_null(stmt, static_cast<int>(v + 1));
                else
                    sqlite3_bind_text(stmt, static_cast<int>(v + 1), values[v].c_str(), -1,
                                      SQLITE_TRANSIENT);
            }
            if (sqlite3_step(stmt) != SQLITE_DONE) {
                std::fprintf(stderr, "%s: %s\n", sql, sqlite3_errmsg(db));
                std::exit(1);
            }
            sqlite3_reset(stmt);
        }
        sqlite3_finalize(stmt);
    }
    sqlite3* db = nullptr;
};

// Spreads visits over the users.
int userOf(long long visit) {
    return static_cast<int>((visit * 2654435761LL >> 7) % users);
}

std::string userId(int i) {
    char text[17];
    std::snprintf(text, sizeof text, "%016X", i + 1);
    return text;
}

std::string stamp(long long i) {
    char text[18];
    std::snprintf(text, sizeof text, "2026%013lld", i);
    return text;
}

// Users (two addresses each, the first also in t_user) and visits, every
// dueEvery-th visit still due.
void fill(const std::string& file, int visits, int dueEvery, int mailErrors) {
    Database database(file);
    database.insert(
        "INSERT INTO t_user (user_id, user_name, mail, group_id, order_id) VALUES (?, ?, ?, 2, ?)",
        users, [](int i) {
            return std::vector<std::string>{userId(i), "利用者" + std::to_string(i),
                                            "first" + std::to_string(i) + "@example.jp",
                                            std::to_string(i + 1)};
        });
    database.insert("INSERT INTO t_mail VALUES (?, ?)", 2 * users, [](int i) {
        const int user = i / 2;
        return std::vector<std::string>{userId(user), (i % 2 ? "second" : "first") +
                                                          std::to_string(user) + "@example.jp"};
    });
    database.insert("INSERT INTO t_login (user_id, login_date, ret_send, ret_send_date) VALUES "
                    "(?, ?, ?, ?)",
                    visits, [dueEvery](int i) {
                        const bool due = i % dueEvery == dueEvery - 1;
                        return std::vector<std::string>{userId(userOf(i)), stamp(i),
                                                        due ? "1" : "2",
                                                        due ? "<null>" : stamp(i + 5)};
                    });
    database.insert("INSERT INTO t_mail_error (login_id, user_id, mail, error_date, error_msg) "
                    "VALUES (?, ?, ?, ?, ?)",
                    mailErrors, [](int i) {
                        return std::vector<std::string>{
                            std::to_string(i * 20 + 1), userId(userOf(i * 20LL)),
                            "second@example.jp", stamp(i * 20 + 1), "-7: 接続できませんでした"};
                    });
}

std::vector<double> timeSendLogin(int calls, std::size_t& rowCount) {
    std::vector<double> times;
    for (int i = 0; i < calls; ++i) {
        NVKTL::vector<CMapStringToString*> rows;
        times.push_back(millisecondsOf([&] {
            CDbAccess db;
            db.getSendLogin(&rows);
            rowCount = rows.size();
            db.releaseVector(&rows);
        }));
    }
    return times;
}

std::string makeFolder(const std::string& base, const char* name) {
    const std::string folder = base + name + "/";
    fs::create_directories(folder);
    return folder;
}

} // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "poston-bench-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const std::string base = pattern + "/";
    const std::string master = POSTON_MASTER_MDB;
    std::printf("data store benchmark (folder %s)\n", base.c_str());

    // The due-visit query, with and without the indexes.
    const std::string indexed = makeFolder(base, "indexed");
    fs::copy_file(master, indexed + "poston.mdb");
    const double fillTime =
        millisecondsOf([&] { fill(indexed + "poston.mdb", 1'000'000, 1000, 0); });
    std::printf("filled 10,000 users, 20,000 addresses, 1,000,000 visits (1,000 due) in %.0f ms\n",
                fillTime);
    const std::string plain = makeFolder(base, "plain");
    fs::copy_file(indexed + "poston.mdb", plain + "poston.mdb");
    {
        Database database(plain + "poston.mdb");
        database.run("DROP INDEX t_login_send");
        database.run("DROP INDEX t_mail_user_mail");
        database.run("DROP INDEX t_user_group");
        database.run("DROP INDEX t_mail_error_date");
    }

    std::size_t rows = 0;
    CDbAccess::setDataFolder(CString(indexed));
    timeSendLogin(1, rows); // warm the page cache
    const std::vector<double> withIndexes = timeSendLogin(21, rows);
    std::printf("getSendLogin, 1,000,000 visits, with indexes:    median %8.2f ms, max %8.2f ms "
                "(%zu rows)\n",
                median(withIndexes), *std::max_element(withIndexes.begin(), withIndexes.end()),
                rows);
    CDbAccess::setDataFolder(CString(plain));
    timeSendLogin(1, rows);
    const std::vector<double> withoutIndexes = timeSendLogin(5, rows);
    std::printf("getSendLogin, 1,000,000 visits, without indexes: median %8.2f ms, max %8.2f ms "
                "(%zu rows)\n",
                median(withoutIndexes),
                *std::max_element(withoutIndexes.begin(), withoutIndexes.end()), rows);

    // One visit recorded and one card recognised, each with its open and close.
    CDbAccess::setDataFolder(CString(indexed));
    std::vector<double> addTimes;
    std::vector<double> existTimes;
    for (int i = 0; i < 200; ++i) {
        addTimes.push_back(millisecondsOf([&] {
            CDbAccess db;
            CString id;
            db.addLogin(CString(userId(i).c_str()), CString(stamp(2'000'000 + i).c_str()), id);
        }));
    }
    for (int i = 0; i < 2000; ++i) {
        existTimes.push_back(millisecondsOf([&] {
            CDbAccess db;
            db.existUser(CString(userId((i * 37) % users).c_str()));
        }));
    }
    std::printf("addLogin (open, insert, max id, close, synced to disk): median %.3f ms\n",
                median(addTimes));
    std::printf("existUser (open, select, close):                        median %.3f ms\n",
                median(existTimes));

    // The migration.
    const std::string migrate = makeFolder(base, "migrate");
    fs::copy_file(master, migrate + "poston.mdb");
    fill(migrate + "poston.mdb", 200'000, 20, 10'000);
    fs::copy_file(master, migrate + std::string(CDataFiles::masterCopy));
    CDbAccess::setDataFolder(CString(migrate));
    int result = 0;
    const double migration = millisecondsOf([&] {
        CDbAccess db;
        result = db.migrateData(nullptr);
    });
    sqlite3* check = nullptr;
    sqlite3_open_v2((migrate + "poston.mdb").c_str(), &check, SQLITE_OPEN_READONLY, nullptr);
    std::string counts;
    for (const char* table : {"t_user", "t_mail", "t_login", "t_mail_error"}) {
        sqlite3_stmt* stmt = nullptr;
        sqlite3_prepare_v2(check, (std::string("SELECT count(*) FROM ") + table).c_str(), -1, &stmt,
                           nullptr);
        sqlite3_step(stmt);
        counts += std::string(" ") + table + "=" + std::to_string(sqlite3_column_int(stmt, 0));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(check);
    std::printf("migrateData, 10,000 users, 20,000 addresses, 200,000 visits, 10,000 mail errors: "
                "%.2f s (result %d;%s)\n",
                migration / 1000.0, result, counts.c_str());

    std::error_code ignored;
    fs::remove_all(base, ignored);
    return 0;
}
