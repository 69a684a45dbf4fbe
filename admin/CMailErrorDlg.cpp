#include "admin/CMailErrorDlg.h"

#include "admin/CListCtrlEx.h"
#include "data/CDbAccess.h"
#include "nvktl/CTime.h"
#include "screens/CMessageBox.h"
#include "screens/QtText.h"
#include "ui_CMailErrorDlg.h"

#include <QResizeEvent>

CMailErrorDlg::CMailErrorDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CMailErrorDlg>()) {
    m_ui->setupUi(this);
    setFont(japaneseFont());
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    connect(m_ui->resendButton, &QPushButton::clicked, this, &CMailErrorDlg::OnResend);
    connect(m_ui->deleteHistoryButton, &QPushButton::clicked, this,
            &CMailErrorDlg::OnDeleteHistory);
}

CMailErrorDlg::~CMailErrorDlg() = default;

CListCtrlEx* CMailErrorDlg::list() const {
    return m_ui->errorList;
}

bool CMailErrorDlg::OnInitDialog() {
    CBaseDialog::OnInitDialog();
    CListCtrlEx* errors = list();
    errors->InsertColumn(QStringLiteral("エラーID"), Qt::AlignRight, 0);
    errors->InsertColumn(QStringLiteral("ログインID"), Qt::AlignHCenter, 0);
    errors->InsertColumn(QStringLiteral("日付"), Qt::AlignHCenter, 250);
    errors->InsertColumn(QStringLiteral("グループ"), Qt::AlignHCenter, 130);
    errors->InsertColumn(QStringLiteral("名前"), Qt::AlignHCenter, 130);
    errors->InsertColumn(QStringLiteral("メールアドレス"), Qt::AlignLeft, 200);
    errors->InsertColumn(QStringLiteral("エラー内容"), Qt::AlignLeft, 400);
    // Where several terminals share a server, the terminal that recorded the
    // visit.
    if (CDbAccess::storeConfig().usesServer())
        errors->InsertColumn(QStringLiteral("端末"), Qt::AlignHCenter, 130);

    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getMailErrorList(&rows);
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        const CMapStringToString& row = *rows.at(i);
        auto column = [&row](const char* name) { return row.Value(name); };
        errors->AppendRow({qt(column("error_no")), qt(column("login_id")),
                           qt(NVKTL::CTime::StampText(column("error_date"))),
                           qt(column("group_name")), qt(column("user_name")), qt(column("mail")),
                           qt(column("error_msg")), qt(column("terminal"))});
    }
    db.releaseVector(&rows);
    errors->SortByColumn(Date, true);

    // The opening size is the smallest; the bottom gap is measured in the
    // window's own coordinates, wherever the window sits on the screen.
    m_openWidth = width();
    m_openHeight = height();
    setMinimumSize(m_openWidth, m_openHeight);
    m_bottomGap = height() - m_ui->resendButton->y();
    m_rightMargin = width() - m_ui->backButton->x() - m_ui->backButton->width();
    return true;
}

void CMailErrorDlg::OnCancel() {
    done(kResultAdminMenu);
}

void CMailErrorDlg::resizeEvent(QResizeEvent* event) {
    CBaseDialog::resizeEvent(event);
    OnSize(event->size().width(), event->size().height());
}

void CMailErrorDlg::OnSize(int cx, int cy) {
    if (m_bottomGap == 0)
        return;
    QWidget* errors = list();
    const int left = errors->x();
    const int top = errors->y();
    errors->setGeometry(left, top, cx - 2 * left, cy - m_bottomGap - 5 - top);
    QWidget* resend = m_ui->resendButton;
    resend->move(cx / 2 - 1 - resend->width(), cy - m_bottomGap);
    QWidget* remove = m_ui->deleteHistoryButton;
    remove->move(cx / 2 + 1, cy - m_bottomGap);
    // "終了" and "戻る" keep their place at the right edge.
    QWidget* end = m_ui->endButton;
    QWidget* back = m_ui->backButton;
    const int endToBack = back->x() - end->x();
    back->move(cx - m_rightMargin - back->width(), back->y());
    end->move(back->x() - endToBack, end->y());
    update();
}

void CMailErrorDlg::OnResend() {
    const CString now = NVKTL::CTime::StampNow();
    CListCtrlEx* errors = list();
    for (const int row : errors->selectedRowIndexes()) {
        CDbAccess db;
        // Only this row's address is mailed again; the row goes once it has.
        db.resendMailError(cs(errors->GetCellText(row, ErrorNo)), now);
    }
    CMessageBox::ok(this, CString(kResent), CString(kCaption));
}

void CMailErrorDlg::OnDeleteHistory() {
    CListCtrlEx* errors = list();
    const QList<int> selected = errors->selectedRowIndexes();
    for (const int row : selected) {
        CDbAccess db;
        db.deleteMailError(cs(errors->GetCellText(row, ErrorNo)));
    }
    for (auto row = selected.rbegin(); row != selected.rend(); ++row)
        errors->removeRow(*row);
    CMessageBox::ok(this, CString(kDeleted), CString(kCaption));
}
