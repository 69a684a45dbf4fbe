#include "admin/CRosterImportDlg.h"

#include "admin/CListCtrlEx.h"
#include "screens/CBaseDialog.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"
#include "ui_CRosterImportDlg.h"

namespace {

QString changeText(RosterCsv::Line::Change change) {
    switch (change) {
    case RosterCsv::Line::Change::Added:
        return QStringLiteral("追加");
    case RosterCsv::Line::Change::Changed:
        return QStringLiteral("変更");
    case RosterCsv::Line::Change::GroupOnly:
        return QStringLiteral("グループ");
    case RosterCsv::Line::Change::Same:
        break;
    }
    return QStringLiteral("変更なし");
}

} // namespace

CRosterImportDlg::CRosterImportDlg(RosterCsv::Preview preview, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CRosterImportDlg>()),
      m_preview(std::move(preview)) {
    m_ui->setupUi(this);
    setFont(CBaseDialog::japaneseFont());
    CBaseDialog::clearDefaultButtons(this);
    connect(m_ui->registerButton, &QPushButton::clicked, this, &CRosterImportDlg::OnRegister);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    CListCtrlEx* lines = list();
    lines->InsertColumn(QStringLiteral("行"), Qt::AlignRight, 50);
    lines->InsertColumn(QStringLiteral("内容"), Qt::AlignHCenter, 80);
    // The problems first: they are what the office has to read.
    lines->InsertColumn(QStringLiteral("問題"), Qt::AlignLeft, 360);
    lines->InsertColumn(QStringLiteral("グループ"), Qt::AlignHCenter, 110);
    lines->InsertColumn(QStringLiteral("カードID"), Qt::AlignHCenter, 150);
    lines->InsertColumn(QStringLiteral("名前"), Qt::AlignHCenter, 130);
    lines->InsertColumn(QStringLiteral("メールアドレス"), Qt::AlignLeft, 220);
    lines->setWordWrap(true);
    int problems = 0, changes = 0;
    for (const RosterCsv::Line& line : m_preview.lines) {
        QStringList mails, why;
        for (const CString& mail : line.pupil.mails)
            mails << qt(mail);
        for (const std::string& problem : line.problems)
            why << QString::fromStdString(problem);
        problems += line.problems.empty() ? 0 : 1;
        changes += line.problems.empty() && (line.change == RosterCsv::Line::Change::Added ||
                                             line.change == RosterCsv::Line::Change::Changed);
        lines->AppendRow(
            {QString::number(line.line),
             line.problems.empty() ? changeText(line.change) : QStringLiteral("問題あり"),
             why.join('\n'), qt(line.pupil.groupName), qt(line.pupil.userId),
             qt(line.pupil.userName), mails.join('\n')});
    }
    lines->resizeRowsToContents();
    QString summary;
    if (!m_preview.fileProblem.empty())
        summary = QString::fromStdString(m_preview.fileProblem);
    else if (problems > 0)
        summary = QStringLiteral(
                      "問題のある行が%1行あります。ファイルを直してから読み込み直してください。")
                      .arg(problems);
    else
        summary = QStringLiteral("%1人を登録・変更します。").arg(changes);
    QStringList groups;
    for (const CString& group : m_preview.newGroups)
        groups << qt(group);
    if (!groups.isEmpty() && m_preview.storable())
        summary += QStringLiteral(" 新しいグループ: ") + groups.join(QStringLiteral("、"));
    m_ui->summaryLabel->setText(summary);
    m_ui->registerButton->setEnabled(m_preview.storable() &&
                                     (changes > 0 || !m_preview.newGroups.empty()));
    lines->setFocus();
}

CRosterImportDlg::~CRosterImportDlg() = default;

CListCtrlEx* CRosterImportDlg::list() const {
    return m_ui->lineList;
}

void CRosterImportDlg::OnRegister() {
    if (!m_preview.storable())
        return;
    CDbAccess db;
    const std::vector<CDbAccess::RosterPupil> pupils = m_preview.changes();
    if (db.importRoster(m_preview.newGroups, pupils) != 0) {
        CMessageBox::warn(this, CString("名簿を登録できませんでした。何も変更していません。"),
                          CString(kCaption));
        return;
    }
    CString text;
    text.Format("%d人を登録しました。", int(pupils.size()));
    CMessageBox::ok(this, text, CString(kCaption));
    accept();
}
