#include "admin/CMailErrorDlg.h"

#include "admin/CListCtrlEx.h"
#include "admin/StoreTogether.h"
#include "data/CDbAccess.h"
#include "nvktl/CTime.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"
#include "ui_CMailErrorDlg.h"

#include <QHeaderView>
#include <QScreen>
#include <QScrollBar>

#include <algorithm>

namespace {

const char* const kWidthKey = "error_list_width";
const char* const kHeightKey = "error_list_height";
const char* const kWaitingTab = "再送待ち";
const char* const kDueNow = "今すぐ";

// A stored moment as the lists show it, to the second.
QString shownTime(const CString& stamp) {
    return qt(NVKTL::CTime::StampText(stamp, true));
}

// The rows of a reading operation as the list's texts, one list per row.
std::vector<QStringList> textsOf(NVKTL::vector<CMapStringToString*>& rows,
                                 const std::function<QStringList(const CMapStringToString&)>& row) {
    std::vector<QStringList> texts;
    for (std::size_t i = 0; i < rows.size(); ++i)
        texts.push_back(row(*rows.at(i)));
    CDbAccess db;
    db.releaseVector(&rows);
    return texts;
}

} // namespace

CMailErrorDlg::CMailErrorDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CMailErrorDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    connect(m_ui->resendButton, &QPushButton::clicked, this, &CMailErrorDlg::OnResend);
    connect(m_ui->deleteHistoryButton, &QPushButton::clicked, this,
            &CMailErrorDlg::OnDeleteHistory);
    connect(m_ui->resendNowButton, &QPushButton::clicked, this, &CMailErrorDlg::OnResendNow);
    for (CListCtrlEx* rows : {list(), waitingList()})
        connect(rows, &QTableWidget::itemSelectionChanged, this, &CMailErrorDlg::followSelections);
}

CMailErrorDlg::~CMailErrorDlg() = default;

CListCtrlEx* CMailErrorDlg::list() const {
    return m_ui->errorList;
}

CListCtrlEx* CMailErrorDlg::waitingList() const {
    return m_ui->waitingList;
}

bool CMailErrorDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CListCtrlEx* errors = list();
    errors->InsertColumn(QStringLiteral("エラーID"), Qt::AlignRight, 0);
    errors->InsertColumn(QStringLiteral("ログインID"), Qt::AlignHCenter, 0);
    errors->InsertColumn(QStringLiteral("日付"), Qt::AlignHCenter, 250);
    errors->InsertColumn(QStringLiteral("種別"), Qt::AlignHCenter, 60);
    errors->InsertColumn(QStringLiteral("グループ"), Qt::AlignHCenter, 130);
    errors->InsertColumn(QStringLiteral("名前"), Qt::AlignHCenter, 130);
    errors->InsertColumn(QStringLiteral("メールアドレス"), Qt::AlignLeft, 200);
    errors->InsertColumn(QStringLiteral("エラー内容"), Qt::AlignLeft, 400);
    // Where several terminals share a server, the terminal that recorded the
    // visit.
    if (CDbAccess::storeConfig().usesServer())
        errors->InsertColumn(QStringLiteral("端末"), Qt::AlignHCenter, 130);
    CListCtrlEx* waiting = waitingList();
    waiting->InsertColumn(QStringLiteral("送信ID"), Qt::AlignRight, 0);
    waiting->InsertColumn(QStringLiteral("メールアドレス"), Qt::AlignLeft, 200);
    waiting->InsertColumn(QStringLiteral("来訪日時"), Qt::AlignHCenter, 250);
    waiting->InsertColumn(QStringLiteral("種別"), Qt::AlignHCenter, 60);
    waiting->InsertColumn(QStringLiteral("送信回数"), Qt::AlignRight, 80);
    waiting->InsertColumn(QStringLiteral("次の再送"), Qt::AlignHCenter, 250);
    waiting->InsertColumn(QStringLiteral("最後のエラー"), Qt::AlignLeft, 330);

    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getMailErrorList(&rows);
    for (const QStringList& texts : textsOf(rows, [](const CMapStringToString& row) {
             auto column = [&row](const char* name) { return qt(row.Value(name)); };
             return QStringList{
                 column("error_no"),   column("login_id"),   shownTime(row.Value("error_date")),
                 column("login_kind"), column("group_name"), column("user_name"),
                 column("mail"),       column("error_msg"),  column("terminal")};
         }))
        errors->AppendRow(texts);
    errors->SortByColumn(Date, true);
    showWaiting();
    followSelections();
    return true;
}

void CMailErrorDlg::showEvent(QShowEvent* event) {
    CBaseDialog::showEvent(event);
    // Once the lists have their places, the widths of their columns tell
    // how wide the window must be.
    if (!m_sized) {
        m_sized = true;
        openAtRememberedSize();
    }
}

void CMailErrorDlg::openAtRememberedSize() {
    const QRect desk = screen() != nullptr ? screen()->availableGeometry() : QRect(0, 0, 1280, 800);
    // Wide enough for every column of both lists, as far as the screen
    // allows; the window can grow from there but not shrink below it.
    int missing = 0;
    for (CListCtrlEx* rows : {list(), waitingList()})
        missing = std::max(missing, rows->horizontalHeader()->length() +
                                        rows->verticalScrollBar()->sizeHint().width() -
                                        list()->viewport()->width());
    resize(std::min(width() + missing, std::max(width(), desk.width())), height());
    setMinimumSize(size());
    CMapStringToString settings;
    {
        CDbAccess db;
        db.getDefault(settings);
    }
    const int width = NVKTL::LeadingNumber(settings.Value(kWidthKey).str());
    const int height = NVKTL::LeadingNumber(settings.Value(kHeightKey).str());
    if (width > 0 && height > 0)
        resize(std::min(width, desk.width()), std::min(height, desk.height()));
}

void CMailErrorDlg::done(int result) {
    // The size the administrator left it at, unless it filled the screen.
    if (isVisible() && !(windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen))) {
        CMapStringToString size;
        size.SetAt(CString(kWidthKey), CString(std::to_string(width())));
        size.SetAt(CString(kHeightKey), CString(std::to_string(height())));
        CDbAccess db;
        db.setDefault(size);
    }
    CBaseDialog::done(result);
}

void CMailErrorDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CMailErrorDlg::OnWaitingCount(int /*count*/) {
    showWaiting();
}

void CMailErrorDlg::showWaiting() {
    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getWaitingList(&rows);
    const std::vector<QStringList> rowTexts = textsOf(rows, [](const CMapStringToString& row) {
        const CString next = row.Value("next_try");
        return QStringList{qt(row.Value("send_id")),
                           qt(row.Value("mail")),
                           shownTime(row.Value("login_date")),
                           qt(row.Value("login_kind")),
                           qt(row.Value("tries")),
                           next.IsEmpty() ? qt(CString(kDueNow)) : shownTime(next),
                           qt(row.Value("last_error"))};
    });
    CListCtrlEx* waiting = waitingList();
    bool same = static_cast<int>(rowTexts.size()) == waiting->rowCount();
    for (int row = 0; same && row < waiting->rowCount(); ++row)
        for (int column = 0; same && column < waiting->columnCount(); ++column)
            same = waiting->GetCellText(row, column) == rowTexts[std::size_t(row)].value(column);
    if (same)
        return;
    QStringList chosen;
    for (const int row : waiting->selectedRowIndexes())
        chosen << waiting->GetCellText(row, SendId);
    waiting->setRowCount(0);
    for (const QStringList& texts : rowTexts) {
        const int row = waiting->AppendRow(texts);
        if (chosen.contains(texts.value(SendId)))
            waiting->selectionModel()->select(waiting->model()->index(row, 0),
                                              QItemSelectionModel::Select |
                                                  QItemSelectionModel::Rows);
    }
    const QString tab = qt(CString(kWaitingTab));
    m_ui->mailTabs->setTabText(
        m_ui->mailTabs->indexOf(m_ui->waitingPage),
        rowTexts.empty() ? tab : tab + QStringLiteral(" (%1件)").arg(rowTexts.size()));
}

void CMailErrorDlg::followSelections() {
    const bool errorsChosen = !list()->selectedRowIndexes().isEmpty();
    m_ui->resendButton->setEnabled(errorsChosen);
    m_ui->deleteHistoryButton->setEnabled(errorsChosen);
    m_ui->resendNowButton->setEnabled(!waitingList()->selectedRowIndexes().isEmpty());
}

void CMailErrorDlg::actOnSelected(
    CListCtrlEx* rows, int key, const char* done, bool leave,
    const std::function<bool(CDbAccess& db, const CString& key)>& write) {
    const QList<int> selected = rows->selectedRowIndexes();
    CDbAccess db;
    const bool stored = storeTogether(db, [&] {
        for (const int row : selected)
            if (!write(db, cs(rows->GetCellText(row, key))))
                return false;
        return true;
    });
    if (!stored) {
        CMessageBox::warn(this, CString(kNotStored), CString(kCaption));
        return;
    }
    for (auto row = selected.rbegin(); leave && row != selected.rend(); ++row)
        rows->removeRow(*row);
    CString text;
    text.Format(done, static_cast<int>(selected.size()));
    CMessageBox::ok(this, text, CString(kCaption));
}

void CMailErrorDlg::OnResend() {
    const CString now = NVKTL::CTime::StampNow();
    // Only the row's own address is mailed again; its entry comes back only
    // if that fails once more.
    actOnSelected(list(), ErrorNo, kResent, true, [&now](CDbAccess& db, const CString& key) {
        return db.resendMailError(key, now) == 0;
    });
}

void CMailErrorDlg::OnDeleteHistory() {
    actOnSelected(list(), ErrorNo, kDeleted, true,
                  [](CDbAccess& db, const CString& key) { return db.deleteMailError(key) == 0; });
}

void CMailErrorDlg::OnResendNow() {
    actOnSelected(waitingList(), SendId, kHurried, false,
                  [](CDbAccess& db, const CString& key) { return db.hurryDelivery(key) == 0; });
    showWaiting();
}
