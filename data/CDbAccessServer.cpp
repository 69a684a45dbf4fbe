// What several terminals on one server need beyond the data operations: the
// outbox of visits recorded on a terminal and their upload, the roster copy
// each terminal keeps, the terminals' numbers, and the first terminal's data
// going up to an empty server.
#include "data/CDbAccess.h"

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>

namespace {

void appendJsonText(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte == 0) {
            continue; // the server's text holds no NUL
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    out += '"';
}

// Rows as one JSON array of objects: the values of many rows travel as one
// bound parameter, so an upload costs the same few round trips whatever its
// size. An empty value of a nullable column is null.
CString jsonRows(const NVKTL::vector<CMapStringToString*>& rows,
                 std::initializer_list<const char*> columns,
                 std::initializer_list<const char*> nullable) {
    std::string out = "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CMapStringToString* row = rows.at(i);
        out += i ? ",{" : "{";
        bool first = true;
        for (const char* column : columns) {
            out += first ? "\"" : ",\"";
            first = false;
            out += column;
            out += "\":";
            const CString value = row->Value(column);
            bool mayBeNull = false;
            for (const char* name : nullable)
                mayBeNull = mayBeNull || std::string(name) == column;
            if (mayBeNull && value.IsEmpty())
                out += "null";
            else
                appendJsonText(out, value.str());
        }
        out += '}';
    }
    out += ']';
    return CString(out);
}

// The first id of this terminal's own range of visits.
CString firstOwnVisit() {
    return CString(
        std::to_string(CDbAccess::storeConfig().terminalId * CStoreConfig::kVisitIdsPerTerminal));
}

void nullIfEmpty(CMapStringToString& row, const char* column) {
    if (row.Value(column).IsEmpty())
        row.SetAt(CString(column), CString("null"));
}

} // namespace

int CDbAccess::getOutbox(NVKTL::vector<CMapStringToString*>* visits,
                         NVKTL::vector<CMapStringToString*>* deliveries, int limit) {
    CMapStringToString params =
        named({{"limit", CString(std::to_string(limit))}, {"first", firstOwnVisit()}});
    if (selectInto(Sql::OutboxVisits, visits, &params) != 0)
        return -1;
    params.SetAt(CString("last"), visits->at(visits->size() - 1)->Value("login_id"));
    selectInto(Sql::OutboxDeliveries, deliveries, &params);
    return 0;
}

int CDbAccess::getOutboxCount() {
    CString count;
    const CMapStringToString params = named({{"first", firstOwnVisit()}});
    if (!selectFirst(Sql::OutboxCount, &params, "waiting", count))
        return -1;
    return std::atoi(count.c_str());
}

int CDbAccess::uploadVisits(const NVKTL::vector<CMapStringToString*>& visits,
                            const NVKTL::vector<CMapStringToString*>& deliveries) {
    const CMapStringToString params = named(
        {{"visits", jsonRows(visits,
                             {"login_id", "user_id", "login_date", "ret_send", "ret_send_date",
                              "terminal", "login_kind"},
                             {"ret_send_date", "terminal", "login_kind"})},
         {"deliveries",
          jsonRows(deliveries, {"login_id", "mail", "user_name", "group_name", "state"}, {})}});
    bool collided = false;
    const int stored = runBatch([&] {
        collided = selectAny(Sql::UploadCollisions, &params) == 0;
        return !collided && run(Sql::UploadVisits, &params) && run(Sql::UploadDeliveries, &params);
    });
    return collided ? -2 : stored;
}

int CDbAccess::markUploaded(const NVKTL::vector<CMapStringToString*>& visits) {
    return runBatch([&] {
        for (std::size_t i = 0; i < visits.size(); ++i)
            if (!run(Sql::OutboxMarkUploaded, visits.at(i)))
                return false;
        return true;
    });
}

int CDbAccess::markAllUploaded() {
    return store(Sql::OutboxMarkAllUploaded);
}

long long CDbAccess::getRosterVersion() {
    CString version;
    if (!selectFirst(Sql::RosterVersion, nullptr, "version", version) || version.IsEmpty())
        return -1;
    return std::atoll(version.c_str());
}

int CDbAccess::readRoster(Roster& roster) {
    roster = Roster{};
    const std::pair<Sql, std::vector<CMapStringToString>*> parts[] = {
        {Sql::RosterGroups, &roster.groups},
        {Sql::RosterUsers, &roster.users},
        {Sql::RosterMails, &roster.mails},
        {Sql::RosterSettings, &roster.settings}};
    for (const auto& [sql, rows] : parts) {
        const IDbConnection::RowVisitor keep = [rows](CMapStringToString& row) {
            rows->push_back(std::move(row));
        };
        if (!m_db || !runOn(*m_db, sql, nullptr, &keep))
            return -1;
    }
    return 0;
}

int CDbAccess::replaceRoster(const Roster& roster) {
    return runBatch([&] {
        for (const Sql clear : {Sql::RosterClearMails, Sql::RosterClearUsers,
                                Sql::RosterClearGroups, Sql::RosterClearSettings})
            if (!run(clear))
                return false;
        for (CMapStringToString group : roster.groups) {
            nullIfEmpty(group, "order_id");
            for (const char* column : {"kengen", "delete_flg"})
                group.SetAt(CString(column), quotedOrNull(group.Value(column)));
            if (!run(Sql::CopyGroup, &group))
                return false;
        }
        for (CMapStringToString user : roster.users) {
            user.SetAt(CString("mail"), quotedOrNull(user.Value("mail")));
            user.SetAt(CString("notice_off"), quotedOrNull(user.Value("notice_off")));
            nullIfEmpty(user, "group_id");
            nullIfEmpty(user, "order_id");
            if (!run(Sql::CopyUser, &user))
                return false;
        }
        for (const CMapStringToString& mail : roster.mails)
            if (!run(Sql::CopyMail, &mail))
                return false;
        for (CMapStringToString setting : roster.settings) {
            setting.SetAt(CString("column_value"), quotedOrNull(setting.Value("column_value")));
            if (!run(Sql::SettingStore, &setting))
                return false;
        }
        return true;
    });
}

long long CDbAccess::registerTerminal(const CString& name, bool& isNew) {
    const CMapStringToString params = named({{"terminal", name}});
    CString id;
    isNew = selectFirst(Sql::TerminalRegister, &params, "terminal_id", id);
    if (!isNew && !selectFirst(Sql::TerminalFind, &params, "terminal_id", id))
        return -1;
    return id.IsEmpty() ? -1 : std::atoll(id.c_str());
}

int CDbAccess::hasData() {
    return selectAny(Sql::HasData, nullptr);
}

int CDbAccess::copyUp(CDbAccess& server, const CString& terminal, IMigrationProgress* progress) {
    if (server.m_db == nullptr)
        return -1;
    IDbConnection* target = server.m_db;
    const CMapStringToString params = named({{"terminal", terminal}});
    const bool all = copyDefData(progress, target) == 0 && copyGroup(progress, target) == 0 &&
                     copyUser(progress, target) == 0 && copyMail(progress, target) == 0 &&
                     copyLogin(progress, target) == 0 && copyMailError(progress, target) == 0 &&
                     copySend(progress, target) == 0 &&
                     server.run(Sql::VisitsNameTerminal, &params) &&
                     server.run(Sql::SequencesAfterCopy);
    return all ? 0 : -1;
}

int CDbAccess::hasRights() {
    CString granted;
    return selectFirst(Sql::RightsCheck, nullptr, "granted", granted) && granted == "t" ? 0 : -1;
}
