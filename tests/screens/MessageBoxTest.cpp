// The message-box service: real boxes with Japanese buttons, and the scripted
// answers that the screens' tests rely on.
#include "ScreenTestSupport.h"

#include "screens/CMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

class MessageBoxTest : public ScreenTest {};

TEST_F(MessageBoxTest, ScriptedAnswersAreTakenInOrderAndEveryBoxIsRecorded) {
    CMessageBox::setNextAnswer(CMessageBox::Yes);
    CMessageBox::setNextAnswer(CMessageBox::No);
    EXPECT_EQ(CMessageBox::Yes,
              CMessageBox::yesNo(nullptr, CString("削除しますか？"), CString("ユーザ削除")));
    CMessageBox::ok(nullptr, CString("登録しました。"), CString("ユーザ登録"));
    EXPECT_EQ(CMessageBox::No, CMessageBox::yesNo(nullptr, CString("b"), CString("c")));
    // None left: the safe answer.
    EXPECT_EQ(CMessageBox::No, CMessageBox::yesNo(nullptr, CString("d"), CString("e")));

    const auto& shown = CMessageBox::shown();
    ASSERT_EQ(4u, shown.size());
    EXPECT_EQ(CMessageBox::YesNoBox, shown[0].kind);
    EXPECT_EQ(CString("削除しますか？"), shown[0].text);
    EXPECT_EQ(CString("ユーザ削除"), shown[0].caption);
    EXPECT_EQ(CMessageBox::OkBox, shown[1].kind);
    EXPECT_EQ(CString("登録しました。"), shown[1].text);
    EXPECT_EQ(CString("ユーザ登録"), shown[1].caption);
}

TEST_F(MessageBoxTest, RealYesNoBoxCarriesCaptionTextAndJapaneseButtons) {
    CMessageBox::resetForTesting(); // real boxes from here on
    QString caption;
    QString text;
    QStringList buttons;
    auto answer = [&](const QString& label) {
        QTimer::singleShot(0, [&, label] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr)
                return;
            caption = box->windowTitle();
            text = box->text();
            buttons.clear();
            for (QAbstractButton* button : box->buttons())
                buttons << button->text();
            for (QAbstractButton* button : box->buttons())
                if (button->text() == label)
                    button->click();
        });
    };
    answer(QStringLiteral("はい(&Y)"));
    EXPECT_EQ(CMessageBox::Yes,
              CMessageBox::yesNo(nullptr, CString("削除しますか？"), CString("グループ削除")));
    EXPECT_EQ(QStringLiteral("グループ削除"), caption);
    EXPECT_EQ(QStringLiteral("削除しますか？"), text);
    EXPECT_TRUE(buttons.contains(QStringLiteral("いいえ(&N)")));

    answer(QStringLiteral("いいえ(&N)"));
    EXPECT_EQ(CMessageBox::No,
              CMessageBox::yesNo(nullptr, CString("削除しますか？"), CString("グループ削除")));
    EXPECT_TRUE(CMessageBox::shown().empty()); // real boxes are not recorded
}
