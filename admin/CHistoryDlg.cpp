#include "admin/CHistoryDlg.h"

#include "admin/CListCtrlEx.h"
#include "admin/CRosterImportDlg.h"
#include "admin/HistoryCsv.h"
#include "admin/RosterCsv.h"
#include "admin/StoreTogether.h"
#include "data/CVisitRule.h"
#include "data/VisitDay.h"
#include "delivery/CDaySummary.h"
#include "nvktl/CTime.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"
#include "ui_CHistoryDlg.h"

#include <QCoreApplication>
#include <QDate>
#include <QFileDialog>
#include <QLineEdit>
#include <QTime>

#include <cstdio>
#include <fstream>

namespace {

CHistoryDlg::FileChooser& fileChooser() {
    static CHistoryDlg::FileChooser chooser;
    return chooser;
}

constexpr const char* kNotSaved = "ファイルを保存できませんでした。";
constexpr const char* kNotRead = "履歴を読み出せませんでした。";
// A roster file larger than this is not a roster.
constexpr long long kMaxRosterBytes = 20LL * 1024 * 1024;

// The stamp where a day of visits begins.
CString dayStart(const QDate& day, int startHour) {
    char hour[16];
    std::snprintf(hour, sizeof hour, "%02d0000000", startHour);
    return cs(day.toString(QStringLiteral("yyyyMMdd"))) + CString(hour);
}

// Writes text to file through a temporary one, so that a file that could not
// be written whole is never left looking complete.
bool writeWhole(const QString& file, const std::function<bool(std::ostream&)>& write) {
    const std::string path = file.toStdString(), part = path + ".part";
    bool written;
    {
        std::ofstream out(part, std::ios::binary | std::ios::trunc);
        written = out && write(out) && out.flush();
    }
    if (written && std::rename(part.c_str(), path.c_str()) == 0)
        return true;
    std::remove(part.c_str());
    return false;
}

} // namespace

CHistoryDlg::CHistoryDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CHistoryDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    // A screen reader meets the date and number fields' own text boxes:
    // they carry the fields' names.
    for (QAbstractSpinBox* field : findChildren<QAbstractSpinBox*>())
        if (auto* text = field->findChild<QLineEdit*>())
            text->setAccessibleName(field->accessibleName());
    connect(m_ui->showButton, &QPushButton::clicked, this, &CHistoryDlg::OnShow);
    connect(m_ui->moreButton, &QPushButton::clicked, this, &CHistoryDlg::OnMore);
    connect(m_ui->exportHistoryButton, &QPushButton::clicked, this, &CHistoryDlg::OnExportHistory);
    connect(m_ui->exportRosterButton, &QPushButton::clicked, this, &CHistoryDlg::OnExportRoster);
    connect(m_ui->importRosterButton, &QPushButton::clicked, this, &CHistoryDlg::OnImportRoster);
    connect(m_ui->saveSettingsButton, &QPushButton::clicked, this, &CHistoryDlg::OnSaveSettings);
    connect(m_ui->cancelExportButton, &QPushButton::clicked, this,
            [this] { m_cancelExport = true; });
}

CHistoryDlg::~CHistoryDlg() = default;

CListCtrlEx* CHistoryDlg::list() const {
    return m_ui->historyList;
}

CListCtrlEx* CHistoryDlg::presentList() const {
    return m_ui->presentList;
}

void CHistoryDlg::setFileChooser(FileChooser chooser) {
    fileChooser() = std::move(chooser);
}

QString CHistoryDlg::chooseFile(bool save, const QString& suggested) {
    if (fileChooser())
        return fileChooser()(save, suggested);
    const QString filter = QStringLiteral("CSV (*.csv)");
    return save ? QFileDialog::getSaveFileName(this, windowTitle(), suggested, filter)
                : QFileDialog::getOpenFileName(this, windowTitle(), QString(), filter);
}

bool CHistoryDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CListCtrlEx* history = list();
    history->InsertColumn(QStringLiteral("日時"), Qt::AlignHCenter, 160);
    history->InsertColumn(QStringLiteral("種別"), Qt::AlignHCenter, 60);
    history->InsertColumn(QStringLiteral("グループ"), Qt::AlignHCenter, 110);
    history->InsertColumn(QStringLiteral("名前"), Qt::AlignHCenter, 130);
    // Where several terminals share a server, the terminal of each visit.
    history->InsertColumn(QStringLiteral("端末"), Qt::AlignHCenter,
                          CDbAccess::storeConfig().usesServer() ? 110 : 0);
    history->InsertColumn(QStringLiteral("通知"), Qt::AlignLeft, 420);
    history->setWordWrap(true);
    CListCtrlEx* present = presentList();
    present->InsertColumn(QStringLiteral("入室"), Qt::AlignHCenter, 160);
    present->InsertColumn(QStringLiteral("グループ"), Qt::AlignHCenter, 110);
    present->InsertColumn(QStringLiteral("名前"), Qt::AlignHCenter, 130);
    present->InsertColumn(QStringLiteral("端末"), Qt::AlignHCenter,
                          CDbAccess::storeConfig().usesServer() ? 110 : 0);

    CDbAccess db;
    CMapStringToString settings;
    db.getDefault(settings);
    m_startHour = VisitDay::startHour(settings.Value(CVisitRule::kDayStartKey));
    m_ui->groupCombo->addItem(QStringLiteral("すべて"), QString("0"));
    NVKTL::vector<CMapStringToString*> groups;
    db.getGroupList(&groups, true);
    for (std::size_t i = 0; i < groups.size(); ++i)
        m_ui->groupCombo->addItem(qt(groups.at(i)->Value("group_name")),
                                  qt(groups.at(i)->Value("group_id")));
    db.releaseVector(&groups);
    // Today is the day the visits of this moment belong to.
    const CString today = VisitDay::dayOf(NVKTL::CTime::StampNow(), m_startHour);
    const QDate day = QDate::fromString(qt(today), QStringLiteral("yyyyMMdd"));
    m_ui->fromEdit->setDate(day);
    m_ui->toEdit->setDate(day);
    if (settings.Value(CVisitRule::kModeKey) != CVisitRule::kInOutMode)
        m_ui->historyTabs->removeTab(m_ui->historyTabs->indexOf(m_ui->presentPage));
    else
        showPresent();
    m_ui->summaryTimeEdit->setText(qt(settings.Value(CDaySummary::kTimeKey)));
    m_ui->summarySkipEmptyCheck->setChecked(!settings.Value(CDaySummary::kSkipEmptyKey).IsEmpty());
    m_ui->retentionSpin->setValue(
        std::atoi(settings.Value(CDbAccess::kRetentionConfirmedKey).c_str()));
    m_ui->exportBar->setVisible(false);
    m_ui->cancelExportButton->setVisible(false);
    setEnterButton(m_ui->showButton);
    setEnterButton(m_ui->saveSettingsButton, m_ui->summaryTimeEdit);
    OnShow();
    return true;
}

void CHistoryDlg::OnCancel() {
    // The cancel key or the close box during a save stops the save only.
    if (m_exporting) {
        m_cancelExport = true;
        return;
    }
    done(kResultAdminMenu);
}

CDbAccess::HistoryFilter CHistoryDlg::filterOfFields() const {
    CDbAccess::HistoryFilter filter;
    filter.from = dayStart(m_ui->fromEdit->date(), m_startHour);
    filter.beforeDate = dayStart(m_ui->toEdit->date().addDays(1), m_startHour);
    filter.groupId = m_ui->groupCombo->currentData().toString().toLongLong();
    filter.namePart = cs(m_ui->nameEdit->text().trimmed());
    return filter;
}

void CHistoryDlg::OnShow() {
    list()->setRowCount(0);
    m_next = filterOfFields();
    OnMore();
}

void CHistoryDlg::OnMore() {
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    const int found = db.getHistory(m_next, kPageVisits, &rows);
    std::vector<std::vector<std::string>> lines;
    HistoryCsv::collect(rows, lines);
    db.releaseVector(&rows);
    if (found != 0 && db.lastError() != DbError::None)
        CMessageBox::warn(this, CString(kNotRead), CString(kCaption));
    for (const auto& line : lines) {
        QStringList texts;
        for (const std::string& text : line)
            texts << QString::fromStdString(text);
        list()->AppendRow(texts);
    }
    list()->resizeRowsToContents();
    m_ui->moreButton->setEnabled(lines.size() == std::size_t(kPageVisits));
    m_ui->countLabel->setText(QStringLiteral("%1件").arg(list()->rowCount()));
}

void CHistoryDlg::showPresent() {
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    const CString today = VisitDay::dayOf(NVKTL::CTime::StampNow(), m_startHour);
    db.getPresent(dayStart(QDate::fromString(qt(today), QStringLiteral("yyyyMMdd")), m_startHour),
                  &rows);
    presentList()->setRowCount(0);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const CMapStringToString& row = *rows.at(i);
        presentList()->AppendRow(
            {QString::fromStdString(HistoryCsv::shownStamp(row.Value("login_date").str())),
             qt(row.Value("group_name")), qt(row.Value("user_name")), qt(row.Value("terminal"))});
    }
    const std::size_t present = rows.size();
    db.releaseVector(&rows);
    m_ui->historyTabs->setTabText(m_ui->historyTabs->indexOf(m_ui->presentPage),
                                  QStringLiteral("在室中 (%1人)").arg(present));
}

void CHistoryDlg::OnExportHistory() {
    const QString file = chooseFile(true, QStringLiteral("来所履歴.csv"));
    if (file.isEmpty())
        return;
    const CDbAccess::HistoryFilter filter = filterOfFields();
    const long long first = NVKTL::CTime::StampMs(filter.from);
    const long long span = std::max(1LL, NVKTL::CTime::StampMs(filter.beforeDate) - first);
    m_cancelExport = false;
    // While the pages go out, only 中止 acts: the rest of the screen waits.
    std::vector<QWidget*> paused;
    for (QWidget* control : std::initializer_list<QWidget*>{
             m_ui->endButton, m_ui->backButton, m_ui->fromEdit, m_ui->toEdit, m_ui->groupCombo,
             m_ui->nameEdit, m_ui->showButton, m_ui->historyTabs, m_ui->exportHistoryButton,
             m_ui->exportRosterButton, m_ui->importRosterButton})
        if (control->isEnabled()) {
            control->setEnabled(false);
            paused.push_back(control);
        }
    m_exporting = true;
    m_ui->exportBar->setRange(0, 1000);
    m_ui->exportBar->setValue(0);
    m_ui->exportBar->setVisible(true);
    m_ui->cancelExportButton->setVisible(true);
    m_ui->cancelExportButton->setFocus();
    HistoryCsv::Result result = HistoryCsv::Result::Failed;
    CDbAccess db;
    // The pages go out newest first: the share of the days already behind.
    const bool written = writeWhole(file, [&](std::ostream& out) {
        result = HistoryCsv::write(db, filter, out, [&](long long, const CString& reached) {
            const long long done = span - (NVKTL::CTime::StampMs(reached) - first);
            m_ui->exportBar->setValue(int(std::clamp(done * 1000 / span, 0LL, 1000LL)));
            QCoreApplication::processEvents();
            return !m_cancelExport;
        });
        return result == HistoryCsv::Result::Written;
    });
    m_exporting = false;
    for (QWidget* control : paused)
        control->setEnabled(true);
    m_ui->exportBar->setVisible(false);
    m_ui->cancelExportButton->setVisible(false);
    m_ui->exportHistoryButton->setFocus();
    if (result == HistoryCsv::Result::Cancelled)
        CMessageBox::ok(this, CString("保存を中止しました。"), CString(kCaption));
    else if (!written)
        CMessageBox::warn(this, CString(kNotSaved), CString(kCaption));
    else
        CMessageBox::ok(this, CString("保存しました。"), CString(kCaption));
}

void CHistoryDlg::OnExportRoster() {
    const QString file = chooseFile(true, QStringLiteral("名簿.csv"));
    if (file.isEmpty())
        return;
    CDbAccess db;
    RosterCsv::Roster roster;
    const bool written = RosterCsv::load(db, roster) && writeWhole(file, [&](std::ostream& out) {
                             return bool(out << RosterCsv::write(roster));
                         });
    CString text;
    text.Format("%d人の名簿を保存しました。", int(roster.pupils.size()));
    if (written)
        CMessageBox::ok(this, text, CString(kCaption));
    else
        CMessageBox::warn(this, CString(kNotSaved), CString(kCaption));
}

void CHistoryDlg::OnSaveSettings() {
    const QString time = m_ui->summaryTimeEdit->text().trimmed();
    if (!time.isEmpty() && !QTime::fromString(time, QStringLiteral("HH:mm")).isValid()) {
        CMessageBox::warn(this, CString("時刻は 18:30 のように入力してください。"),
                          CString(kCaption));
        return;
    }
    const int months = m_ui->retentionSpin->value();
    const CString now = NVKTL::CTime::StampNow();
    CDbAccess db;
    CMapStringToString settings;
    db.getDefault(settings);
    const bool newLimit = months > 0 && settings.Value(CDbAccess::kRetentionConfirmedKey) !=
                                            CString(std::to_string(months));
    const CString before = CDbAccess::retentionStart(now, months);
    long long visits = 0;
    if (newLimit) {
        CString oldest;
        visits = db.countVisitsBefore(before, oldest);
        CString question;
        question.Format("保存期間を%dか月にすると、%s より前の記録 %lld件（来所とその通知）を"
                        "削除します。よろしいですか？",
                        months, HistoryCsv::shownStamp(before.str()).c_str(), visits);
        if (CMessageBox::yesNo(this, question, CString(kCaption)) != CMessageBox::Answer::Yes)
            return;
    }
    CMapStringToString values;
    const CString limit(months > 0 ? std::to_string(months) : std::string());
    values.SetAt(CString(CDaySummary::kTimeKey), cs(time));
    values.SetAt(CString(CDaySummary::kSkipEmptyKey),
                 CString(m_ui->summarySkipEmptyCheck->isChecked() ? "1" : ""));
    values.SetAt(CString(CDbAccess::kRetentionKey), limit);
    values.SetAt(CString(CDbAccess::kRetentionConfirmedKey), limit);
    if (!storeTogether(db, [&] {
            return db.storeDefault(values) == 0 &&
                   (!newLimit || db.deleteVisitsBefore(before) == 0);
        })) {
        CMessageBox::warn(this, CString(kNotStored), CString(kCaption));
        return;
    }
    CString done("設定を保存しました。");
    if (newLimit && visits > 0)
        done.Format("設定を保存し、%lld件の記録を削除しました。", visits);
    CMessageBox::ok(this, done, CString(kCaption));
    OnShow();
}

void CHistoryDlg::OnImportRoster() {
    const QString file = chooseFile(false, QString());
    if (file.isEmpty())
        return;
    std::ifstream in(file.toStdString(), std::ios::binary);
    std::string text;
    if (in) {
        in.seekg(0, std::ios::end);
        const long long size = in.tellg();
        if (size >= 0 && size <= kMaxRosterBytes) {
            text.resize(std::size_t(size));
            in.seekg(0);
            in.read(text.data(), size);
        }
    }
    if (!in || text.empty()) {
        CMessageBox::warn(this, CString("名簿のファイルを読めませんでした。"), CString(kCaption));
        return;
    }
    CDbAccess db;
    RosterCsv::Roster current;
    if (!RosterCsv::load(db, current)) {
        CMessageBox::warn(this, CString(kNotRead), CString(kCaption));
        return;
    }
    CRosterImportDlg preview(RosterCsv::read(text, current), this);
    preview.exec();
}
