#include "RecordingSendThread.h"

#include "delivery/CNotification.h"
#include "nvktl/CTime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "nvktl/Base64.h"
#include "nvktl/JisEncoding.h"

#include <cstdlib>
#include <ctime>
#include <set>
#include <sstream>

using ::testing::ElementsAre;

namespace {

// Expected ISO-2022-JP texts and Base64 words were made with Python's
// iso2022_jp codec and base64 module.
const char* const kWordUketsuke = "=?ISO-2022-JP?B?GyRCPHVJVRsoQg==?=";           // 受付
const char* const kWordYamada = "=?ISO-2022-JP?B?GyRCOzNFRBsoQiAbJEJCQE86GyhC?="; // 山田 太郎
const char* const kWordSubject = "=?ISO-2022-JP?B?GyRCTWhLLCROJCpDTiRpJDsbKEI=?="; // 来訪のお知らせ

std::vector<std::string> lines(const std::string& message) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = message.find("\r\n", start);
        if (end == std::string::npos) {
            out.push_back(message.substr(start));
            return out;
        }
        out.push_back(message.substr(start, end - start));
        start = end + 2;
    }
}

CMapStringToString mapOf(std::initializer_list<std::pair<const char*, const char*>> entries) {
    CMapStringToString map;
    for (const auto& [key, value] : entries)
        map.SetAt(key, value);
    return map;
}

NVKTL::CTime visitMoment() {
    return NVKTL::CTime(2026, 12, 6, 5, 10, 15, 30, 123);
}

// Sets the machine's zone (a POSIX TZ text, no zone files needed) while it lives.
class ZoneForTest {
public:
    explicit ZoneForTest(const char* zone) {
        if (const char* old = std::getenv("TZ"))
            previous = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~ZoneForTest() {
        if (previous.empty())
            ::unsetenv("TZ");
        else
            ::setenv("TZ", previous.c_str(), 1);
        ::tzset();
    }

private:
    std::string previous;
};

std::string withoutMessageId(const std::string& message) {
    std::string out;
    for (const std::string& line : lines(message)) {
        if (line.rfind("Message-ID: ", 0) != 0)
            out += line + "\r\n";
    }
    return out;
}

// --- Body -----------------------------------------------------------------------

TEST(NotificationBody, VisitTimeIsCutFromTheTimestampByPosition) {
    EXPECT_EQ(CNotification::visitTime("20261205101530123"), "2026年12月05日 10時15分");
    // Parts beyond the end of a short text are empty; nothing reads past it.
    EXPECT_EQ(CNotification::visitTime("2026120"), "2026年12月0日 時分");
    EXPECT_EQ(CNotification::visitTime(""), "年月日 時分");
}

TEST(NotificationBody, FiveLinesEachEndedByCrLf) {
    EXPECT_EQ(CNotification::body("開発部", "山田 太郎", "20261205101530123"),
              "「ぽすとん」にアクセスしました。\r\n"
              "[ 開発部 ]の\r\n"
              "[ 山田 太郎 ]さん\r\n"
              "通知があった時間\r\n"
              "2026年12月05日 10時15分\r\n");
}

TEST(NotificationBody, RowBecomesAMailToTheVisitorUnderTheirName) {
    const CMapStringToString settings = mapOf({{"mail_subject", "来訪のお知らせ"},
                                               {"mail_address", "desk@example.jp"},
                                               {"group_name", "開発部"},
                                               {"from_name", "山田 太郎"},
                                               {"from_mail", "yamada@example.jp"},
                                               {"login_date", "20261205101530123"},
                                               {"user_id", "00000000000000A1"},
                                               {"login_id", "7"}});
    const CMapStringToString mail = CNotification::mailRequest(settings);

    EXPECT_EQ(mail.GetCount(), 4);
    CString value;
    ASSERT_TRUE(mail.Lookup("recv_name", value));
    EXPECT_EQ(value, "山田 太郎");
    ASSERT_TRUE(mail.Lookup("recv_mail", value));
    EXPECT_EQ(value, "yamada@example.jp");
    ASSERT_TRUE(mail.Lookup("title", value));
    EXPECT_EQ(value, "来訪のお知らせ");
    ASSERT_TRUE(mail.Lookup("body", value));
    EXPECT_EQ(value, CNotification::body("開発部", "山田 太郎", "20261205101530123"));
}

// --- Line ends and dot-stuffing ---------------------------------------------------

TEST(NotificationStuffing, EveryLineBeginningWithADotGetsASecondDot) {
    EXPECT_EQ(CNotification::stuffDots("a\r\n.\r\n.\r\n"), "a\r\n..\r\n..\r\n");
    EXPECT_EQ(CNotification::stuffDots(".\r\nb\r\n"), "..\r\nb\r\n");
    EXPECT_EQ(CNotification::stuffDots("x\r\n.NET\x1b$BHI\x1b(B\r\n"),
              "x\r\n..NET\x1b$BHI\x1b(B\r\n");
    EXPECT_EQ(CNotification::stuffDots("..\r\n"), "...\r\n");
    // Dots inside a line, and text without dots, stay as they are.
    EXPECT_EQ(CNotification::stuffDots("a.b\r\n c.\r\n"), "a.b\r\n c.\r\n");
    EXPECT_EQ(CNotification::stuffDots(""), "");
}

TEST(NotificationStuffing, EveryKindOfLineBreakBecomesCrLf) {
    EXPECT_EQ(CNotification::normalizeLineEnds("a\nb\rc\r\nd\r\r\ne"), "a\r\nb\r\nc\r\nd\r\n\r\ne");
    EXPECT_EQ(CNotification::normalizeLineEnds("\n"), "\r\n");
    EXPECT_EQ(CNotification::normalizeLineEnds("plain"), "plain");
}

// --- The finished message ---------------------------------------------------------

TEST(NotificationMessage, SixHeaderFieldsInOrderThenTheJisBody) {
    const CMapStringToString merged = mapOf({{"mail_user", "受付"},
                                             {"mail_address", "desk@example.jp"},
                                             {"recv_name", "山田 太郎"},
                                             {"recv_mail", "yamada@example.jp"},
                                             {"title", "来訪のお知らせ"},
                                             {"body", "a\r\n.\r\n.\r\n.NET班\r\n"}});
    const ZoneForTest japan("JST-9");
    const std::string message = CNotification::buildMessage(merged, visitMoment()).str();

    EXPECT_THAT(lines(message),
                ElementsAre(std::string("From: ") + kWordUketsuke + " <desk@example.jp>",
                            std::string("To: ") + kWordYamada + " <yamada@example.jp>",
                            "Date: Sat, 05 Dec 2026 10:15:30 +0900",
                            std::string("Subject: ") + kWordSubject,
                            "Content-Type: text/plain; charset=\"ISO-2022-JP\"",
                            "Content-Transfer-Encoding: 7bit",
                            ::testing::MatchesRegex("Message-ID: <[0-9a-f.]+@example\\.jp>"),
                            "MIME-Version: 1.0", "", "a", "..", "..", "..NET\x1b$BHI\x1b(B", ""));
}

TEST(NotificationMessage, NotificationBodyArrivesAsIso2022Jp) {
    const CMapStringToString merged =
        mapOf({{"body", "「ぽすとん」にアクセスしました。\r\n[ 開発部 ]の\r\n[ 山田 太郎 ]さん\r\n"
                        "通知があった時間\r\n2026年12月05日 10時15分\r\n"}});
    const std::string message = CNotification::buildMessage(merged, visitMoment()).str();
    const std::size_t bodyStart = message.find("\r\n\r\n");
    ASSERT_NE(bodyStart, std::string::npos);
    EXPECT_EQ(message.substr(bodyStart + 4),
              "\x1b$B!V$]$9$H$s!W$K%\"%/%;%9$7$^$7$?!#\x1b(B\r\n"
              "[ \x1b$B3+H/It\x1b(B ]\x1b$B$N\x1b(B\r\n"
              "[ \x1b$B;3ED\x1b(B \x1b$BB@O:\x1b(B ]\x1b$B$5$s\x1b(B\r\n"
              "\x1b$BDLCN$,$\"$C$?;~4V\x1b(B\r\n"
              "2026\x1b$BG/\x1b(B12\x1b$B7n\x1b(B05\x1b$BF|\x1b(B 10\x1b$B;~\x1b(B15"
              "\x1b$BJ,\x1b(B\r\n");
    for (unsigned char c : message)
        ASSERT_LT(c, 0x80) << "the message must stay 7-bit";
}

TEST(NotificationMessage, EmptyAndAsciiValuesAreStillOneEncodedWordOnOneLine) {
    CMapStringToString merged = mapOf({{"mail_address", "desk@example.jp"}, {"title", "Hello"}});
    std::vector<std::string> header =
        lines(CNotification::buildMessage(merged, visitMoment()).str());
    EXPECT_EQ(header[0], "From: =?ISO-2022-JP?B?"
                         "?= <desk@example.jp>");
    EXPECT_EQ(header[1], "To: =?ISO-2022-JP?B?"
                         "?= <>");
    EXPECT_EQ(header[3], "Subject: =?ISO-2022-JP?B?SGVsbG8=?=");
}

// The JIS bytes of a field's encoded words, joined, with every switch back to
// ASCII that is directly followed by a switch out of it dropped.
std::string joinedJis(const std::string& field) {
    std::string jis;
    std::size_t at = 0;
    while ((at = field.find("=?ISO-2022-JP?B?", at)) != std::string::npos) {
        const std::size_t end = field.find("?=", at + 16);
        const NVKTL::CByteArray decoded = NVKTL::Base64Decode(field.substr(at + 16, end - at - 16));
        const std::string word(decoded.View());
        const std::size_t lastSwitch = word.rfind('\x1b');
        EXPECT_TRUE(lastSwitch == std::string::npos || word.substr(lastSwitch, 3) == "\x1b(B")
            << "a word ends in ASCII mode";
        jis += word;
        at = end + 2;
    }
    for (std::size_t join; (join = jis.find("\x1b(B\x1b$B")) != std::string::npos;)
        jis.erase(join, 6);
    return jis;
}

TEST(NotificationMessage, LongTextsBecomeSeveralWordsOnFoldedLines) {
    const std::string longName = "山田太郎左衛門之助" + std::string("ABC") + "長い名前の生徒さん";
    std::string longSubject;
    for (int i = 0; i < 12; ++i)
        longSubject += "来訪のお知らせ、Visit " + std::to_string(i) + " ";
    const CMapStringToString merged = mapOf({{"mail_address", "desk@example.jp"},
                                             {"recv_name", longName.c_str()},
                                             {"recv_mail", "yamada@example.jp"},
                                             {"title", longSubject.c_str()}});
    const std::string message = CNotification::buildMessage(merged, visitMoment()).str();
    const std::string head = message.substr(0, message.find("\r\n\r\n"));

    for (const std::string& line : lines(head)) {
        EXPECT_LE(line.size(), 78u) << line;
        for (std::size_t at = 0; (at = line.find("=?", at)) != std::string::npos;) {
            const std::size_t end = line.find("?=", at + 16);
            EXPECT_LE(end + 2 - at, 75u) << line;
            at = end + 2;
        }
    }
    // Each field's words give back the whole text.
    // A field's value with its folded lines.
    auto field = [&](const std::string& name) {
        std::string value;
        for (const std::string& line : lines(head.substr(head.find(name + ": ")))) {
            if (!value.empty() && line[0] != ' ')
                break;
            value += line + "\r\n";
        }
        return value;
    };
    CString expectedSubject, expectedName;
    NVKTL::ToJis(CString(longSubject), expectedSubject);
    NVKTL::ToJis(CString(longName), expectedName);
    auto normalised = [](std::string jis) {
        for (std::size_t join; (join = jis.find("\x1b(B\x1b$B")) != std::string::npos;)
            jis.erase(join, 6);
        return jis;
    };
    EXPECT_EQ(joinedJis(field("Subject")), normalised(expectedSubject.str()));
    EXPECT_EQ(joinedJis(field("To")), normalised(expectedName.str()));
    EXPECT_NE(field("Subject").find("\r\n "), std::string::npos) << "folded";
    EXPECT_NE(field("To").find("<yamada@example.jp>"), std::string::npos);
}

TEST(NotificationMessage, TheDateCarriesTheMachinesOffsetAtThatMoment) {
    const struct {
        const char* zone;
        const char* offset;
    } cases[] = {
        {"JST-9", "+0900"},
        {"UTC0", "+0000"},
        {"EST5EDT,M3.2.0,M11.1.0", "-0500"}, // December: standard time
        {"<+0530>-5:30", "+0530"},
    };
    for (const auto& c : cases) {
        const ZoneForTest zone(c.zone);
        const std::string message =
            CNotification::buildMessage(CMapStringToString(), visitMoment()).str();
        EXPECT_NE(
            message.find("\r\nDate: Sat, 05 Dec 2026 10:15:30 " + std::string(c.offset) + "\r\n"),
            std::string::npos)
            << c.zone;
    }
    const ZoneForTest summer("EST5EDT,M3.2.0,M11.1.0");
    const std::string july =
        CNotification::buildMessage(CMapStringToString(), NVKTL::CTime(2026, 7, 3, 3, 9, 0, 0, 0))
            .str();
    EXPECT_NE(july.find(" -0400\r\n"), std::string::npos);
}

TEST(NotificationMessage, EveryMailGetsAMessageIdOfItsOwn) {
    const CMapStringToString merged = mapOf({{"mail_address", "desk@example.jp"}});
    std::set<std::string> ids;
    for (int i = 0; i < 100; ++i) {
        for (const std::string& line :
             lines(CNotification::buildMessage(merged, visitMoment()).str())) {
            if (line.rfind("Message-ID: ", 0) == 0)
                ids.insert(line);
        }
    }
    EXPECT_EQ(ids.size(), 100u);
    // A sender address that is no plain domain never reaches the identifier.
    const std::string odd =
        CNotification::buildMessage(mapOf({{"mail_address", "x@a b>\r\nBcc: y"}}), visitMoment())
            .str();
    EXPECT_NE(odd.find("@poston.invalid>\r\n"), std::string::npos);
}

TEST(NotificationMessage, LineBreaksFromTheDataFileCannotEndOrForgeAnything) {
    // A name that carries an SMTP end-of-data line, and an address that
    // carries a header field.
    const CMapStringToString settings =
        mapOf({{"group_name", "x\r\n.\r\nMAIL FROM:<evil@example.jp>"},
               {"from_name", "a\nb"},
               {"from_mail", "v@example.jp\r\nBcc: all@example.jp"},
               {"login_date", "20261205101530123"}});
    CMapStringToString merged = CNotification::mailRequest(settings);
    const std::string message = CNotification::buildMessage(merged, visitMoment()).str();

    EXPECT_EQ(message.find("\r\n.\r\n"), std::string::npos);
    const std::size_t bodyStart = message.find("\r\n\r\n") + 4;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\n') {
            ASSERT_GT(i, 0u);
            ASSERT_EQ(message[i - 1], '\r') << "bare LF at " << i;
        }
        if (message[i] == '\r') {
            ASSERT_LT(i + 1, message.size());
            ASSERT_EQ(message[i + 1], '\n') << "bare CR at " << i;
        }
    }
    const auto all = lines(message);
    EXPECT_EQ(all[1].rfind("To: ", 0), 0u);
    EXPECT_THAT(all[1], ::testing::EndsWith("<v@example.jpBcc: all@example.jp>"));
    EXPECT_EQ(all[2].rfind("Date: ", 0), 0u);
    EXPECT_NE(message.find("\r\n..\r\nMAIL FROM:", bodyStart), std::string::npos);
}

// --- Composition through the send thread -------------------------------------------

// Answers "getDefault" with fixed settings, and nothing else.
class SettingsWindow : public ISendWindow {
public:
    explicit SettingsWindow(CMapStringToString settings) : m_settings(std::move(settings)) {}
    int dataRequest(const char* name, void* const* args) override {
        if (std::string(name) != "getDefault")
            return -1;
        auto* map = static_cast<CMapStringToString*>(args[0]);
        for (const auto& [key, value] : m_settings)
            map->SetAt(key, value);
        return -1;
    }
    void progressStart(int, int) override {}
    void progressEnd() override {}
    void statusText(const char*) override {}

private:
    CMapStringToString m_settings;
};

TEST(NotificationSending, RouteGetsTheSettingsWithTheMailKeysWrittenOverThem) {
    SettingsWindow window(mapOf({{"mail_user", "受付"},
                                 {"mail_address", "desk@example.jp"},
                                 {"mail_server_ip", "127.0.0.1"},
                                 {"title", "stale"}}));
    RecordingSendThread thread;
    thread.setScript([](const std::string&, int) { return -7; });
    thread.setInterval(3600 * 1000); // no period runs during the test
    thread.setWindow(&window);
    NVKTL::CTestClock clock(visitMoment());

    const CMapStringToString row = mapOf({{"mail_subject", "来訪のお知らせ"},
                                          {"group_name", "開発部"},
                                          {"from_name", "山田 太郎"},
                                          {"from_mail", "yamada@example.jp"},
                                          {"login_date", "20261205101530123"}});
    EXPECT_EQ(thread.sendNotification(row), -7);

    const auto deliveries = thread.deliveries();
    ASSERT_EQ(deliveries.size(), 1u);
    const CMapStringToString& settings = deliveries[0].settings;
    CString value;
    EXPECT_TRUE(settings.Lookup("title", value));
    EXPECT_EQ(value, "来訪のお知らせ");
    EXPECT_TRUE(settings.Lookup("mail_server_ip", value));
    EXPECT_EQ(value, "127.0.0.1");
    EXPECT_TRUE(settings.Lookup("recv_mail", value));
    EXPECT_EQ(value, "yamada@example.jp");
    EXPECT_FALSE(settings.Lookup("group_name", value)) << "row columns are not passed on";

    const std::string expected =
        CNotification::buildMessage(
            mapOf({{"mail_user", "受付"},
                   {"mail_address", "desk@example.jp"},
                   {"recv_name", "山田 太郎"},
                   {"recv_mail", "yamada@example.jp"},
                   {"title", "来訪のお知らせ"},
                   {"body",
                    CNotification::body("開発部", "山田 太郎", "20261205101530123").c_str()}}),
            visitMoment())
            .str();
    EXPECT_EQ(withoutMessageId(deliveries[0].message), withoutMessageId(expected));
    thread.resetWindow();
}

TEST(NotificationSending, NothingIsSentWhenNoWindowGivesTheSettings) {
    RecordingSendThread thread;
    CMapStringToString mail = mapOf({{"recv_mail", "yamada@example.jp"}});
    EXPECT_EQ(thread.sendMail(mail), CSendThread::kSettingsUnavailable);
    EXPECT_TRUE(thread.deliveries().empty());
}

} // namespace
