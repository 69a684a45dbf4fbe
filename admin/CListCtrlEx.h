#pragma once

#include <QTableWidget>

// A report list that sorts its rows by a column when the column's header is
// clicked. Each column's last direction (0 ascending, 1 descending) is kept
// in its header item; a click sorts in the opposite direction. Cells compare
// byte by byte as UTF-8 text, without locale, so fixed-width digit fields
// sort in numeric order.
class CListCtrlEx : public QTableWidget {
    Q_OBJECT
public:
    explicit CListCtrlEx(QWidget* parent = nullptr);

    // Appends a column with its heading, alignment and width (0 hides it).
    void InsertColumn(const QString& heading, Qt::Alignment alignment, int width);
    // Appends a row of texts, one per column; returns its index.
    int AppendRow(const QStringList& texts);

    virtual QString GetCellText(int row, int column) const;

    void SortByColumn(int column, bool descending);
    void OnColumnClick(int column);
    // The direction stored for the column: 0 ascending, 1 descending.
    int storedDirection(int column) const;

    // The selected rows, top to bottom.
    QList<int> selectedRowIndexes() const;
};
