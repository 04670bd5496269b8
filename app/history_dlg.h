#pragma once
// "History": the runs of the journal in a table that sorts by any column, a filter box that
// keeps the rows containing its text, and an export of the rows shown to a CSV file. With a
// fleet server set, a switch shows the runs of all stations from it instead.

#include <QDialog>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "services/journal_fields.h"

class QComboBox;
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
    // A read of the fleet still under way is cut short.
    ~CHistoryDlg() override;

    // "this station" or "all stations"; the switch is there only with a fleet server set.
    QComboBox* ScopeSwitch() const { return m_pScope; }
    // Whether a read of the fleet is under way.
    bool IsReading() const { return m_reader.joinable() && !m_bReadDone; }
    // Every field of the rows shown, in the order shown; false with a message box on failure.
    bool ExportCsv(const QString& strPath);

private:
    void ShowRuns(std::optional<std::vector<CJournalRow>> optRows, const std::string& strError, bool bFleet);
    void LoadRuns();
    void OnScopeChanged(int nIndex);
    void StopReading();
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
    QComboBox* m_pScope = nullptr;
    std::string m_strFleetUrl;
    std::unique_ptr<class CPgInterrupt> m_pInterrupt;
    std::unique_ptr<class CCallInbox> m_pInbox;
    std::thread m_reader;
    bool m_bReadDone = true;
};

}  // namespace kestrel
