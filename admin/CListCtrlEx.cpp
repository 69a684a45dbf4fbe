#include "admin/CListCtrlEx.h"

#include <QHeaderView>

#include <algorithm>
#include <vector>

namespace {
constexpr int kDirectionRole = Qt::UserRole;
}

CListCtrlEx::CListCtrlEx(QWidget* parent) : QTableWidget(parent) {
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setSectionsMovable(true);
    horizontalHeader()->setHighlightSections(false);
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &CListCtrlEx::OnColumnClick);
}

void CListCtrlEx::InsertColumn(const QString& heading, Qt::Alignment alignment, int width) {
    const int column = columnCount();
    insertColumn(column);
    auto* header = new QTableWidgetItem(heading);
    header->setTextAlignment(alignment | Qt::AlignVCenter);
    header->setData(kDirectionRole, 0);
    setHorizontalHeaderItem(column, header);
    if (width == 0)
        setColumnHidden(column, true);
    else
        setColumnWidth(column, width);
}

int CListCtrlEx::AppendRow(const QStringList& texts) {
    const int row = rowCount();
    insertRow(row);
    for (int column = 0; column < columnCount() && column < texts.size(); ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        const QTableWidgetItem* header = horizontalHeaderItem(column);
        if (header != nullptr)
            item->setTextAlignment(Qt::Alignment(header->textAlignment()));
        setItem(row, column, item);
    }
    return row;
}

QString CListCtrlEx::GetCellText(int row, int column) const {
    const QTableWidgetItem* cell = item(row, column);
    return cell != nullptr ? cell->text() : QString();
}

int CListCtrlEx::storedDirection(int column) const {
    const QTableWidgetItem* header = horizontalHeaderItem(column);
    return header != nullptr ? header->data(kDirectionRole).toInt() : 0;
}

void CListCtrlEx::SortByColumn(int column, bool descending) {
    if (column < 0 || column >= columnCount())
        return;
    horizontalHeaderItem(column)->setData(kDirectionRole, descending ? 1 : 0);

    struct Row {
        std::string key;
        std::vector<QTableWidgetItem*> cells;
        bool selected;
    };
    std::vector<Row> rows;
    const int count = rowCount();
    const int columns = columnCount();
    rows.reserve(static_cast<std::size_t>(count));
    for (int row = 0; row < count; ++row) {
        Row entry{GetCellText(row, column).toStdString(), {}, false};
        for (int c = 0; c < columns; ++c) {
            QTableWidgetItem* cell = item(row, c);
            if (cell != nullptr && cell->isSelected())
                entry.selected = true;
        }
        rows.push_back(std::move(entry));
    }
    for (int row = 0; row < count; ++row)
        for (int c = 0; c < columns; ++c)
            rows[static_cast<std::size_t>(row)].cells.push_back(takeItem(row, c));

    // std::string compares as unsigned bytes, without locale.
    std::stable_sort(rows.begin(), rows.end(), [descending](const Row& a, const Row& b) {
        return descending ? b.key < a.key : a.key < b.key;
    });

    clearSelection();
    for (int row = 0; row < count; ++row) {
        Row& entry = rows[static_cast<std::size_t>(row)];
        for (int c = 0; c < columns; ++c)
            setItem(row, c, entry.cells[static_cast<std::size_t>(c)]);
        if (entry.selected)
            for (int c = 0; c < columns; ++c)
                if (QTableWidgetItem* cell = item(row, c))
                    cell->setSelected(true);
    }
}

void CListCtrlEx::OnColumnClick(int column) {
    SortByColumn(column, storedDirection(column) == 0);
}

QList<int> CListCtrlEx::selectedRowIndexes() const {
    QList<int> rows;
    for (int row = 0; row < rowCount(); ++row) {
        for (int column = 0; column < columnCount(); ++column) {
            const QTableWidgetItem* cell = item(row, column);
            if (cell != nullptr && cell->isSelected()) {
                rows.push_back(row);
                break;
            }
        }
    }
    return rows;
}
