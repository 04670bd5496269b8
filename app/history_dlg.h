#pragma once
// "History": the runs of the journal in a table that sorts by any column, a filter box that
// keeps the rows containing its text, and an export of the rows shown to a CSV file.

#include <QDialog>
#include <vector>

#include "services/journal_fields.h"

class QLabel;
class QLineEdit;
class QSortFilterProxyModel;
class QStandardItemModel;
class QTableView;

namespace kestrel {

class CHistoryDlg : public QDialog {
    Q_OBJECT

public:
    explicit CHistoryDlg(QWidget* pParent = nullptr);

    // Every field of the rows shown, in the order shown; false with a message box on failure.
    bool ExportCsv(const QString& strPath);

private:
    void LoadRuns();
    void OnExport();
    void OnFilterChanged(const QString& strText);
    void ShowCount();

    std::vector<CJournalRow> m_rows;
    QStandardItemModel* m_pModel = nullptr;
    QSortFilterProxyModel* m_pProxy = nullptr;
    QTableView* m_pTable = nullptr;
    QLineEdit* m_pFilter = nullptr;
    QLabel* m_pStatus = nullptr;
    QString m_strJournalError;
};

}  // namespace kestrel
