#include "server/CServerCommand.h"

#include "data/CDataFiles.h"
#include "data/CDbAccess.h"
#include "data/CPgConnection.h"
#include "data/CServerSchema.h"
#include "nvktl/CTime.h"

#include <cerrno>
#include <ostream>
#include <unistd.h>

namespace {

constexpr const char* kUsage = "使い方: poston-server [use URI [--name 端末名] | local]";

bool hasControl(const std::string& text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return true;
    return false;
}

std::string hostName() {
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 ? name : "";
}

// Where the server is, without anything secret the URI may hold.
std::string where(const CPgConnection::Target& target) {
    std::string text =
        "サーバー " + (target.host.empty() ? std::string("(ローカル)") : target.host);
    if (!target.port.empty())
        text += ":" + target.port;
    return text + " のデータベース「" + target.database + "」（ロール " + target.user + "）";
}

std::string openMessage(CPgConnection::Opened why, const CPgConnection::Target& target,
                        const std::string& detail) {
    using Opened = CPgConnection::Opened;
    switch (why) {
    case Opened::Ok:
        break;
    case Opened::Unreachable:
        return where(target) +
               "に接続できません。サーバー名・ポート・ネットワークを確かめて"
               "ください（" +
               detail + "）";
    case Opened::NeedsPassword:
        return "サーバーがロール " + target.user +
               " のパスワードを求めています。この端末から対話で実行するか、~/.pgpass に書いてく"
               "ださい。";
    case Opened::WrongPassword:
        return "ロール " + target.user + " のパスワードが違います。";
    case Opened::NotAllowed:
        return "サーバーがロール " + target.user +
               " の接続を認めていません。ロールの名前と、サーバーの pg_hba.conf を確かめてくだ"
               "さい。";
    case Opened::NoDatabase:
        return "サーバーにデータベース「" + target.database + "」がありません。";
    case Opened::NoRights:
        return "ロール " + target.user + " にはデータベース「" + target.database +
               "」に接続する権限がありません。";
    case Opened::Failed:
        break;
    }
    return where(target) + "に接続できません（" + detail + "）";
}

std::string tooNew(const CServerSchema::Found& found) {
    return "サーバーのデータの形（版 " + std::to_string(found.version) +
           "）はこのぽすとんより新しいため、書き込めません。この端末のぽすとんを新しくしてくださ"
           "い。";
}

// One line of libpq's password file; ':' and '\' are escaped.
std::string passLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i)
            line += ':';
        for (const char c : fields[i]) {
            if (c == ':' || c == '\\')
                line += '\\';
            line += c;
        }
    }
    return line + "\n";
}

} // namespace

CServerCommand::CServerCommand(std::string dataFolder, std::ostream& out, std::ostream& err,
                               AskPassword askPassword)
    : m_folder(std::move(dataFolder)), m_out(out), m_err(err),
      m_askPassword(std::move(askPassword)) {
    if (m_folder.empty() || m_folder.back() != '/')
        m_folder += '/';
}

int CServerCommand::fail(const std::string& message) {
    m_err << message << "\n";
    return 1;
}

int CServerCommand::run(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        return status();
    if (arguments[0] == "local" && arguments.size() == 1)
        return local();
    if (arguments[0] == "use" && (arguments.size() == 2 || arguments.size() == 4)) {
        if (arguments.size() == 2)
            return use(arguments[1], hostName());
        if (arguments[2] == "--name")
            return use(arguments[1], arguments[3]);
    }
    m_err << kUsage << "\n";
    return 2;
}

bool CServerCommand::prepareDataFile() {
    CDataFiles::ensureFolder(CString(m_folder));
    CDbAccess::setDataFolder(CString(m_folder));
    if (CDataFiles::prepare(CString(m_folder))) {
        CDbAccess db(CDbAccess::Store::Terminal);
        db.migrateData(nullptr);
    }
    return CDataFiles::exists(CString(m_folder) + CDataFiles::dataFile);
}

int CServerCommand::status() {
    CStoreConfig config;
    if (!CStoreConfig::load(m_folder, config))
        return fail(m_folder + std::string(CStoreConfig::fileName) +
                    " を読めません。poston-server use か poston-server local でやり直してくださ"
                    "い。");
    if (!config.usesServer()) {
        m_out << "データの保存先: この端末のデータファイル " << m_folder << CDataFiles::dataFile
              << "\n";
        return 0;
    }
    CPgConnection::Target target;
    std::string detail;
    CPgConnection::parse(config.uri, target, detail);
    m_out << "データの保存先: " << where(target) << "、端末名 " << config.terminalName << "\n";
    CPgConnection::Settings settings;
    settings.uri = config.uri;
    settings.passFile = config.passFile;
    CPgConnection::Opened why;
    const auto connection = CPgConnection::open(settings, why, detail);
    CServerSchema::Found found;
    bool answers = connection != nullptr;
    if (!connection)
        m_out << "サーバー: " << openMessage(why, target, detail) << "\n";
    else if (!CServerSchema::read(*connection, found))
        m_out << "サーバー: 応答していますが、ぽすとんの表を読めません（" << connection->errorText()
              << "）\n";
    else if (!CServerSchema::mayWrite(found))
        m_out << "サーバー: " << tooNew(found) << "\n";
    else
        m_out << "サーバー: 応答しています\n";
    CDbAccess::setDataFolder(CString(m_folder));
    const int waiting = CDbAccess(CDbAccess::Store::Terminal).getOutboxCount();
    m_out << "サーバーへまだ送っていない来訪: " << (waiting < 0 ? 0 : waiting) << " 件\n";
    return answers ? 0 : 1;
}

int CServerCommand::use(const std::string& uri, std::string name) {
    CPgConnection::Target target;
    std::string detail;
    if (uri.empty() || hasControl(uri) || !CPgConnection::parse(uri, target, detail))
        return fail("接続先（URI）を読めません。postgresql://ロール@サーバー/データベース の形で"
                    "書いてください" +
                    (detail.empty() ? std::string("。") : "（" + detail + "）。"));
    if (name.empty() || hasControl(name) || name.size() > 64)
        return fail("端末名が使えません。--name で 64 バイトまでの名前を付けてください。");
    if (!prepareDataFile())
        return fail("この端末のデータファイル " + m_folder + std::string(CDataFiles::dataFile) +
                    " も、もとになる master.mdb もありません。");

    CPgConnection::Settings settings;
    settings.uri = uri;
    CPgConnection::Opened why;
    std::unique_ptr<CPgConnection> connection = CPgConnection::open(settings, why, detail);
    if (!connection && why == CPgConnection::Opened::NeedsPassword && m_askPassword) {
        settings.password = m_askPassword("ロール " + target.user + " のパスワード: ");
        if (!settings.password.empty())
            connection = CPgConnection::open(settings, why, detail);
    }
    if (!connection)
        return fail(openMessage(why, target, detail));
    CServerSchema::Found found;
    switch (CServerSchema::ensure(*connection, detail)) {
    case CServerSchema::State::TooNew:
        CServerSchema::read(*connection, found);
        return fail(tooNew(found));
    case CServerSchema::State::NoRights:
        return fail("ロール " + target.user +
                    " にはサーバーにぽすとんの表を作る権限がありません。データベースの所有者の"
                    "ロールで一度 poston-server use を実行してください。");
    case CServerSchema::State::Failed:
        return fail("サーバーにぽすとんの表を作れませんでした（" + detail + "）。");
    default:
        break;
    }

    // A password that was asked for is kept in libpq's password file in the
    // data folder, as private as the data file.
    CStoreConfig config;
    config.uri = uri;
    config.terminalName = name;
    const std::string passFile = m_folder + std::string(CStoreConfig::passFileName);
    if (!settings.password.empty()) {
        const std::string line =
            passLine({connection->host(), connection->port(), connection->database(),
                      connection->user(), settings.password});
        if (!CDataFiles::writeFile(CString(passFile), line, true))
            return fail("パスワードを " + passFile + " に書けません。");
        config.passFile = passFile;
    }
    connection.reset();
    const auto forget = [&](const std::string& message) {
        if (!config.passFile.empty())
            ::unlink(passFile.c_str());
        return fail(message);
    };

    // From here the data operations reach the server as the terminal will.
    CStoreConfig previous;
    CStoreConfig::load(m_folder, previous);
    CDbAccess::setStoreConfig(config);
    CDbAccess server;
    if (server.hasRights() != 0)
        return forget("ロール " + target.user +
                      " にはサーバーのぽすとんの表を読み書きする権限がありません。");
    // The same terminal again, on the same server, perhaps with another role.
    CPgConnection::Target before;
    const bool again = previous.usesServer() && previous.terminalName == name &&
                       CPgConnection::parse(previous.uri, before, detail) &&
                       before.host == target.host && before.port == target.port &&
                       before.database == target.database;
    CDbAccess local(CDbAccess::Store::Terminal);
    bool isNew = false;
    bool copied = false;
    if (server.beginBatch() != 0)
        return forget(where(target) + "に書き込めません。");
    const long long id = server.registerTerminal(CString(name), isNew);
    if (id <= 0 || (!isNew && !(again && previous.terminalId == id))) {
        server.endBatch(false);
        return forget(id <= 0 ? where(target) + "に端末を登録できません。"
                              : "端末名「" + name +
                                    "」はほかの端末が使っています。--name で別の名前を付けてく"
                                    "ださい。");
    }
    // A school moves its first terminal to the server without losing a
    // pupil, a visit or a mail error.
    const bool serverEmpty = server.hasData() != 0;
    if (serverEmpty) {
        if (local.copyUp(server, CString(name), nullptr) != 0) {
            server.endBatch(false);
            return forget("この端末のデータをサーバーに写せませんでした。何も変えていません。");
        }
        copied = local.hasData() == 0;
    }
    if (server.endBatch(true) != 0)
        return forget(where(target) + "に書き込めませんでした。何も変えていません。");

    // The file's own visits are on the server now, or stay the file's own;
    // the terminal's visits for this same server still go up.
    if (!again)
        local.markAllUploaded();
    // The server's roster replaces the file's: what the file held stays in a
    // backup beside it.
    std::string backup;
    if (!serverEmpty && !again && local.hasData() == 0) {
        backup = m_folder + std::string(CDataFiles::backupPrefix) + NVKTL::CTime::StampNow().str() +
                 std::string(CDataFiles::backupSuffix);
        if (!CDataFiles::copyFile(CString(m_folder) + CDataFiles::dataFile, CString(backup)))
            return forget("この端末のデータファイルの控えを " + backup + " に作れません。");
    }
    CDbAccess::Roster roster;
    if (server.readRoster(roster) != 0 || local.replaceRoster(roster) != 0)
        return forget("サーバーの利用者の一覧をこの端末に写せませんでした。");
    config.terminalId = id;
    CDbAccess::setStoreConfig(config);
    if (!config.save(m_folder))
        return forget(m_folder + std::string(CStoreConfig::fileName) + " に書けません。");

    if (copied)
        m_out << "この端末のデータ（利用者・来訪・送信エラー）をサーバーに写しました。\n";
    else if (!serverEmpty && !again)
        m_out << "サーバーにはすでにデータがあるため、サーバーのデータを使います。"
              << (backup.empty() ? std::string()
                                 : "この端末のデータは " + backup + " に残しました。")
              << "\n";
    m_out << "この端末（端末名 " << name << "）は、次の起動から" << where(target)
          << "を使います。\n";
    return 0;
}

int CServerCommand::local() {
    CStoreConfig config;
    CStoreConfig::load(m_folder, config);
    CDbAccess::setDataFolder(CString(m_folder));
    const int waiting = CDbAccess(CDbAccess::Store::Terminal).getOutboxCount();
    if (!CStoreConfig::remove(m_folder))
        return fail(m_folder + std::string(CStoreConfig::fileName) + " を消せません。");
    const std::string passFile = m_folder + std::string(CStoreConfig::passFileName);
    if (::unlink(passFile.c_str()) != 0 && errno != ENOENT)
        return fail(passFile + " を消せません。");
    m_out << "この端末は、次の起動から自分のデータファイル " << m_folder << CDataFiles::dataFile
          << " を使います。\n";
    if (config.usesServer() && waiting > 0)
        m_out << "サーバーへまだ送っていない来訪 " << waiting
              << " 件は、この端末から通知します。\n";
    return 0;
}
