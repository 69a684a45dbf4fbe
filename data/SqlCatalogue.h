#pragma once

#include "data/IDbConnection.h"

#include <cstddef>

// Every statement of the data operations, by name. Each has one body that
// both stores run, or a body per store where their SQL differs; the few that
// belong to one store only (the upload to the server, the local outbox) say
// so. Placeholders as CSqlTemplate reads them.
enum class Sql {
    // Groups (t_group).
    GroupListAll,
    GroupListDeletable,
    GroupMaxOrder,
    GroupExists,
    GroupNameExists,
    GroupGet,
    GroupInsert,
    GroupUpdate,
    GroupDelete,
    GroupUsersMailDelete,
    GroupUsersDelete,
    // Users and their addresses (t_user, t_mail).
    UserList,
    UserMaxOrder,
    UserOrder,
    UserExists,
    UserGet,
    AdminCheck,
    AdminExists,
    UserInsert,
    UserUpdate,
    UserDelete,
    MailInsert,
    MailDelete,
    AddressList,
    // Settings (t_def_data).
    SettingsAll,
    SettingStore,
    // Visits (t_login) and their deliveries (t_send).
    VisitInsert,
    VisitDeliveriesInsert,
    VisitWithoutDeliveries,
    VisitDeliveriesSkip,
    VisitSkip,
    VisitSummary,
    LastVisit,
    RecentVisits,
    SeenVisitKeep,
    DueDeliveries,
    WaitingCount,
    WaitingList,
    DeliveryHurry,
    DeliveryClaim,
    DeliveryRelease,
    ClaimsRelease,
    DeliverySent,
    DeliveryRetry,
    DeliveryFail,
    // Failed deliveries (t_mail_error).
    SentErrorsDelete,
    ErrorRenew,
    ErrorInsert,
    ErrorDeliveryInsert,
    ErrorDeliveryFind,
    ErrorDeliveryDue,
    ErrorList,
    ErrorDelete,
    // Rows copied whole, ids and all: the migration into a new master file,
    // the first terminal's data going up to a server, the roster coming
    // down to a terminal.
    CopySetting,
    CopyFixedGroup,
    CopyGroup,
    CopyUser,
    CopyUserMail,
    CopyMail,
    CopyVisit,
    CopyError,
    CopyDelivery,
    OldDueDeliveries,
    OldDeliveryInsert,
    OldVisitsWithoutDeliveries,
    // A server's numbering goes on after rows copied with their ids; the
    // visits copied up name the terminal that recorded them.
    SequencesAfterCopy,
    VisitsNameTerminal,
    // The roster a terminal keeps a copy of.
    RosterVersion,
    RosterGroups,
    RosterUsers,
    RosterMails,
    RosterSettings,
    RosterClearGroups,
    RosterClearUsers,
    RosterClearMails,
    RosterClearSettings,
    // The terminal's outbox and the upload to the server.
    OutboxVisits,
    OutboxDeliveries,
    OutboxCount,
    OutboxMarkUploaded,
    OutboxMarkAllUploaded,
    VisitNumbering,
    VisitNumberingStart,
    UploadVisits,
    UploadDeliveries,
    UploadCollisions,
    // The terminals of a server.
    TerminalRegister,
    TerminalFind,
    HasData,
    RightsCheck,
    Ping,
    // The office's view: the history, who is in, the daily summary, the
    // retention limit, the roster as a spreadsheet.
    HistoryPage,
    HistoryPageByName,
    PresentNow,
    DaySummary,
    DayProblems,
    SummaryClaim,
    RetentionCount,
    RetentionErrorsDelete,
    RetentionDeliveriesDelete,
    RetentionVisitsDelete,
    RosterLines,
    GroupIdByName,
    Count
};

// One statement: the body each store runs, null where a store has none.
struct CStatement {
    Sql id;
    const char* sqlite;
    const char* postgres;

    const char* body(SqlDialect dialect) const {
        return dialect == SqlDialect::Sqlite ? sqlite : postgres;
    }
    // True when the statement is meant for one store only.
    bool oneStoreOnly() const { return sqlite == nullptr || postgres == nullptr; }
};

namespace SqlCatalogue {

const CStatement& statement(Sql id);
constexpr std::size_t size() {
    return static_cast<std::size_t>(Sql::Count);
}

} // namespace SqlCatalogue
