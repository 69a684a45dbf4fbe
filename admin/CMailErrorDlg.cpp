#include "admin/CMailErrorDlg.h"

#include "admin/CListCtrlEx.h"
#include "admin/CUserScreenParts.h"
#include "app/CControlIds.h"
#include "data/CDbAccess.h"
#include "nvktl/CTime.h"
#include "screens/CMessageBox.h"
#include "ui_CMailErrorDlg.h"

#include <QResizeEvent>

using userscreen::cs;
using userscreen::qt;

CMailErrorDlg::CMailErrorDlg(QWidget* parent)
    : CBaseDialog(kTemplateId, parent), m_ui(std::make_unique<Ui::CMailErrorDlg>()) {
    m_ui->setupUi(this);
    applyControlIds(this);
    setFont(japaneseFont());
    setWindowFlags(windowFlags() | Qt::WindowMaximizeButtonHint);
    connect(m_ui->c1020, &QPushButton::clicked, this, &CMailErrorDlg::OnResend);
    connect(m_ui->c1021, &QPushButton::clicked, this, &CMailErrorDlg::OnDeleteHistory);
}

CMailErrorDlg::~CMailErrorDlg() = default;

CListCtrlEx* CMailErrorDlg::list() const {
    return m_ui->c1019;
}

QString CMailErrorDlg::dateText(const std::string& timestamp) {
    auto part = [&timestamp](std::size_t at, std::size_t length) {
        return at < timestamp.size() ? QString::fromStdString(timestamp.substr(at, length))
                                     : QString();
    };
    return part(0, 4) + QStringLiteral("年") + part(4, 2) + QStringLiteral("月") + part(6, 2) +
           QStringLiteral("日 ") + part(8, 2) + QStringLiteral("時") + part(10, 2) +
           QStringLiteral("分");
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

    CDbAccess db;
    NVKTL::vector<CMapStringToString*> rows;
    db.getMailErrorList(&rows);
    const std::size_t count = rows.size();
    for (std::size_t i = 0; i < count; ++i) {
        const CMapStringToString& row = *rows.at(i);
        auto column = [&row](const char* name) {
            CString value;
            row.Lookup(CString(name), value);
            return value;
        };
        errors->AppendRow({qt(column("error_no")), qt(column("login_id")),
                           dateText(column("error_date").str()), qt(column("group_name")),
                           qt(column("user_name")), qt(column("mail")), qt(column("error_msg"))});
    }
    db.releaseVector(&rows);
    errors->SortByColumn(Date, true);

    // The opening size is the smallest; the bottom gap is measured in the
    // window's own coordinates, wherever the window sits on the screen.
    m_openWidth = width();
    m_openHeight = height();
    setMinimumSize(m_openWidth, m_openHeight);
    m_bottomGap = height() - m_ui->c1020->y();
    m_rightMargin = width() - m_ui->c1023->x() - m_ui->c1023->width();
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
    QWidget* resend = m_ui->c1020;
    resend->move(cx / 2 - 1 - resend->width(), cy - m_bottomGap);
    QWidget* remove = m_ui->c1021;
    remove->move(cx / 2 + 1, cy - m_bottomGap);
    // "終了" and "戻る" keep their place at the right edge.
    QWidget* end = m_ui->c1022;
    QWidget* back = m_ui->c1023;
    const int endToBack = back->x() - end->x();
    back->move(cx - m_rightMargin - back->width(), back->y());
    end->move(back->x() - endToBack, end->y());
    update();
}

void CMailErrorDlg::OnResend() {
    CString now;
    NVKTL::CTime time;
    time.SetNow();
    time.Format(now, "%Y%m%d%H%M%S%s");
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
