#include "admin/RosterCsv.h"

#include "admin/CUserForm.h"
#include "admin/MailAddressCheck.h"
#include "admin/NameCheck.h"
#include "nvktl/Csv.h"

#include <algorithm>
#include <cctype>

namespace RosterCsv {

namespace {

constexpr const char* kGroup = "グループ";
constexpr const char* kCard = "カードID";
constexpr const char* kName = "名前";
constexpr const char* kNotice = "通知";
constexpr const char* kMail = "メール";
constexpr const char* kNoticeOn = "する";
constexpr const char* kNoticeOff = "しない";
// At least this many address columns, so that the office has room to add.
constexpr std::size_t kMailColumns = 3;

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// A card ID as the reader gives it: 16 hexadecimal digits, upper case (a
// spreadsheet's lower case is taken as the same card).
bool normaliseCardId(std::string& id) {
    if (id.size() != 16)
        return false;
    for (char& c : id) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return true;
}

bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80         ? 1
                                   : (c >> 5) == 6  ? 2
                                   : (c >> 4) == 14 ? 3
                                   : (c >> 3) == 30 ? 4
                                                    : 0;
        if (length == 0 || i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2)
                return false;
        i += length;
    }
    return true;
}

bool samePupil(const CDbAccess::RosterPupil& a, const CDbAccess::RosterPupil& b) {
    if (a.groupName != b.groupName || a.userName != b.userName || a.noticeOff != b.noticeOff ||
        a.mails.size() != b.mails.size())
        return false;
    for (std::size_t i = 0; i < a.mails.size(); ++i)
        if (lower(a.mails[i].str()) != lower(b.mails[i].str()))
            return false;
    return true;
}

// The columns of the header line: where each field stands.
struct Columns {
    int group = -1, card = -1, name = -1, notice = -1;
    std::vector<int> mails;
};

bool readHeader(const std::vector<std::string>& header, Columns& columns) {
    for (std::size_t i = 0; i < header.size(); ++i) {
        const std::string& title = header[i];
        const int at = static_cast<int>(i);
        if (title == kGroup)
            columns.group = at;
        else if (title == kCard)
            columns.card = at;
        else if (title == kName)
            columns.name = at;
        else if (title == kNotice)
            columns.notice = at;
        else if (title.starts_with(kMail))
            columns.mails.push_back(at);
    }
    return columns.group >= 0 && columns.card >= 0 && columns.name >= 0;
}

std::string at(const std::vector<std::string>& fields, int column) {
    return column >= 0 && static_cast<std::size_t>(column) < fields.size() ? fields[column] : "";
}

} // namespace

bool load(CDbAccess& db, Roster& roster) {
    NVKTL::vector<CMapStringToString*> groups;
    if (db.getGroupList(&groups, true) != 0)
        return false;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        roster.groups.push_back(groups.at(i)->Value("group_name"));
        if (groups.at(i)->Value("group_id") == userform::kAdminGroup)
            roster.adminGroup = roster.groups.back();
    }
    db.releaseVector(&groups);
    NVKTL::vector<CMapStringToString*> rows;
    db.getRosterLines(&rows);
    if (rows.empty() && db.lastError() != DbError::None)
        return false;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CMapStringToString& row = *rows.at(i);
        if (roster.pupils.empty() || roster.pupils.back().userId != row.Value("user_id")) {
            CDbAccess::RosterPupil pupil;
            pupil.groupName = row.Value("group_name");
            pupil.userId = row.Value("user_id");
            pupil.userName = row.Value("user_name");
            pupil.noticeOff = !row.Value("notice_off").IsEmpty();
            roster.pupils.push_back(std::move(pupil));
        }
        if (!row.Value("mail").IsEmpty())
            roster.pupils.back().mails.push_back(row.Value("mail"));
    }
    db.releaseVector(&rows);
    return true;
}

std::string write(const Roster& roster) {
    std::size_t mailColumns = kMailColumns;
    for (const auto& pupil : roster.pupils)
        mailColumns = std::max(mailColumns, pupil.mails.size());
    std::vector<std::string> header{kGroup, kCard, kName, kNotice};
    for (std::size_t i = 1; i <= mailColumns; ++i)
        header.push_back(kMail + std::to_string(i));
    std::string text(NVKTL::Csv::kByteOrderMark);
    text += NVKTL::Csv::line(header);
    std::set<std::string> withPupils;
    for (const auto& pupil : roster.pupils) {
        std::vector<std::string> fields{pupil.groupName.str(), pupil.userId.str(),
                                        pupil.userName.str(),
                                        pupil.noticeOff ? kNoticeOff : kNoticeOn};
        for (const CString& mail : pupil.mails)
            fields.push_back(mail.str());
        text += NVKTL::Csv::line(fields);
        withPupils.insert(pupil.groupName.str());
    }
    for (const CString& group : roster.groups)
        if (!withPupils.contains(group.str()))
            text += NVKTL::Csv::line({group.str()});
    return text;
}

bool Preview::storable() const {
    if (!fileProblem.empty())
        return false;
    return std::none_of(lines.begin(), lines.end(),
                        [](const Line& line) { return !line.problems.empty(); });
}

std::vector<CDbAccess::RosterPupil> Preview::changes() const {
    std::vector<CDbAccess::RosterPupil> pupils;
    for (const Line& line : lines)
        if (line.change == Line::Change::Added || line.change == Line::Change::Changed)
            pupils.push_back(line.pupil);
    return pupils;
}

Preview read(std::string_view text, const Roster& current) {
    Preview preview;
    std::vector<NVKTL::Csv::Record> records;
    Columns columns;
    if (!isUtf8(text))
        preview.fileProblem = "UTF-8のCSVファイルではありません。表計算ソフトで「CSV UTF-8」として"
                              "保存してください。";
    else if (!NVKTL::Csv::parse(text, records))
        preview.fileProblem = "CSVファイルの引用符(\")が閉じていません。";
    else if (records.empty() || !readHeader(records.front().fields, columns))
        preview.fileProblem = "1行目に見出し（グループ,カードID,名前,通知,メール1…）がありません。";
    if (!preview.fileProblem.empty())
        return preview;

    std::map<std::string, const CDbAccess::RosterPupil*> known;
    for (const auto& pupil : current.pupils)
        known[pupil.userId.str()] = &pupil;
    std::set<std::string> groups, cardsSeen;
    for (const CString& group : current.groups)
        groups.insert(group.str());
    for (std::size_t r = 1; r < records.size(); ++r) {
        const std::vector<std::string>& fields = records[r].fields;
        Line line;
        line.line = records[r].line;
        CDbAccess::RosterPupil& pupil = line.pupil;
        pupil.groupName = CString(at(fields, columns.group));
        std::string card = at(fields, columns.card);
        pupil.userName = CString(at(fields, columns.name));
        const std::string notice = at(fields, columns.notice);
        pupil.noticeOff = notice == kNoticeOff;
        std::set<std::string> mailsSeen;
        for (const int column : columns.mails) {
            const std::string mail = at(fields, column);
            if (mail.empty())
                continue;
            if (!isAcceptableMailAddress(CString(mail)))
                line.problems.push_back("メールアドレス「" + mail + "」: " + kBadMailAddress);
            // One mailbox once, whatever its letter case.
            else if (mailsSeen.insert(lower(mail)).second)
                pupil.mails.push_back(CString(mail));
        }
        if (pupil.groupName.IsEmpty())
            line.problems.push_back("グループがありません。");
        else if (!isAcceptableNameLength(pupil.groupName))
            line.problems.push_back(std::string("グループの") + kNameTooLong);
        else if (!groups.contains(pupil.groupName.str())) {
            groups.insert(pupil.groupName.str());
            preview.newGroups.push_back(pupil.groupName);
        }
        if (card.empty() && pupil.userName.IsEmpty() && pupil.mails.empty()) {
            line.change = Line::Change::GroupOnly;
            preview.lines.push_back(std::move(line));
            continue;
        }
        if (!normaliseCardId(card))
            line.problems.push_back("カードID「" + card + "」は16桁の16進数ではありません。");
        else if (!cardsSeen.insert(card).second)
            line.problems.push_back("カードID「" + card + "」がファイルの中に2回あります。");
        pupil.userId = CString(card);
        if (pupil.userName.IsEmpty())
            line.problems.push_back("名前がありません。");
        else if (!isAcceptableNameLength(pupil.userName))
            line.problems.push_back(kNameTooLong);
        if (!notice.empty() && notice != kNoticeOn && notice != kNoticeOff)
            line.problems.push_back("通知は「する」か「しない」です。");
        const auto held = known.find(card);
        // A card opens the administrator menu by its group: a file never
        // grants that, nor takes it away (the last administrator's included).
        const bool wasAdmin = held != known.end() && held->second->groupName == current.adminGroup;
        if (!current.adminGroup.IsEmpty() && (pupil.groupName == current.adminGroup) != wasAdmin)
            line.problems.push_back("管理者グループへの出入りは、ユーザの登録・変更の画面で"
                                    "してください。");
        if (held == known.end()) {
            line.change = Line::Change::Added;
        } else if (held->second->userName != pupil.userName) {
            // Another child's card: storing the line would send that family's
            // notices to these addresses.
            line.problems.push_back("このカードは「" + held->second->userName.str() +
                                    "」さんのカードです。");
        } else {
            line.change =
                samePupil(*held->second, pupil) ? Line::Change::Same : Line::Change::Changed;
        }
        preview.lines.push_back(std::move(line));
    }
    return preview;
}

} // namespace RosterCsv
