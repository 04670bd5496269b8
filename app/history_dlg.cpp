#include "app/history_dlg.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QStandardItemModel>
#include <QTableView>
#include <QVBoxLayout>

#include "services/call_inbox.h"
#include "services/fleet_server.h"
#include "services/fleet_settings.h"
#include "services/journal.h"
#include "services/journal_csv.h"
#include "services/journal_files.h"

namespace kestrel {
namespace {

QString FromStd(std::string_view str) { return QString::fromUtf8(str.data(), static_cast<qsizetype>(str.size())); }

// Numbers are kept as numbers, so that they sort as numbers.
QStandardItem* CellOf(const CJournalRow& row, JournalField eField)
{
    auto* pItem = new QStandardItem;
    if (const auto optNumber = row.Number(eField))
        pItem->setData(static_cast<qlonglong>(*optNumber), Qt::DisplayRole);
    else
        pItem->setText(FromStd(row.Text(eField)));
    pItem->setEditable(false);
    return pItem;
}

}  // namespace

CHistoryDlg::CHistoryDlg(QWidget* pParent) : QDialog(pParent)
{
    setWindowTitle(QStringLiteral("History"));
    resize(960, 420);

    m_pFilter = new QLineEdit(this);
    m_pFilter->setPlaceholderText(QStringLiteral("Filter"));
    m_pFilter->setClearButtonEnabled(true);
    m_pModel = new QStandardItemModel(this);
    m_pProxy = new QSortFilterProxyModel(this);
    m_pProxy->setSourceModel(m_pModel);
    m_pProxy->setFilterKeyColumn(-1);
    m_pProxy->setFilterCaseSensitivity(Qt::CaseInsensitive);
    m_pTable = new QTableView(this);
    m_pTable->setModel(m_pProxy);
    m_pTable->setSortingEnabled(true);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    m_pStatus = new QLabel(this);
    auto* pExport = new QPushButton(QStringLiteral("Export CSV..."), this);
    auto* pClose = new QPushButton(QStringLiteral("Close"), this);

    auto* pButtons = new QHBoxLayout;
    pButtons->addWidget(m_pStatus, 1);
    pButtons->addWidget(pExport);
    pButtons->addWidget(pClose);
    auto* pTop = new QHBoxLayout;
    pTop->addWidget(m_pFilter, 1);
    m_strFleetUrl = FleetJournalUrl();
    if (!m_strFleetUrl.empty()) {
        m_pScope = new QComboBox(this);
        m_pScope->addItems({QStringLiteral("this station"), QStringLiteral("all stations")});
        pTop->addWidget(m_pScope);
        connect(m_pScope, &QComboBox::currentIndexChanged, this, &CHistoryDlg::OnScopeChanged);
    }
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pTop);
    pLayout->addWidget(m_pTable, 1);
    pLayout->addLayout(pButtons);

    connect(m_pFilter, &QLineEdit::textChanged, this, &CHistoryDlg::OnFilterChanged);
    connect(pExport, &QPushButton::clicked, this, &CHistoryDlg::OnExport);
    connect(pClose, &QPushButton::clicked, this, &QDialog::accept);
    LoadRuns();
}

CHistoryDlg::~CHistoryDlg() { StopReading(); }

void CHistoryDlg::StopReading()
{
    if (!m_reader.joinable()) return;
    m_pInterrupt->CapAt(PgClock::now());
    m_reader.join();
}

void CHistoryDlg::LoadRuns()
{
    // The window only reads here: a journal the user may not write is shown all the same.
    CJournal journal;
    auto optRows = journal.OpenReadOnly(JournalFilePath()) ? journal.Runs({}) : std::nullopt;
    ShowRuns(std::move(optRows), journal.LastError(), false);
}

// The fleet is read on a thread of its own: the window stays live however long the server takes.
void CHistoryDlg::OnScopeChanged(int nIndex)
{
    StopReading();
    if (nIndex == 0) {
        LoadRuns();
        return;
    }
    m_pStatus->setText(QStringLiteral("Reading the runs of all stations from %1 ...").arg(FromStd(RedactedConnection(m_strFleetUrl))));
    m_pScope->setEnabled(false);
    m_pInterrupt = std::make_unique<CPgInterrupt>();
    m_pInbox = std::make_unique<CCallInbox>();
    m_bReadDone = false;
    m_reader = std::thread([this, poster = m_pInbox->Poster(), strUrl = m_strFleetUrl, &interrupt = *m_pInterrupt] {
        std::string strError;
        auto optRows = ReadFleetRuns(strUrl, {}, strError, interrupt);
        poster.Post([this, optRows = std::move(optRows), strError]() mutable {
            m_bReadDone = true;
            m_pScope->setEnabled(true);
            ShowRuns(std::move(optRows), "Fleet journal: " + strError, true);
        });
    });
}

void CHistoryDlg::ShowRuns(std::optional<std::vector<CJournalRow>> optRows, const std::string& strError, bool bFleet)
{
    std::vector<JournalField> fields;
    if (bFleet) fields.push_back(JournalField::StationName);
    fields.insert(fields.end(), ListedJournalFields().begin(), ListedJournalFields().end());
    m_pModel->clear();
    QStringList headers;
    for (const JournalField eField : fields) headers << FromStd(FieldInfo(eField).strHeader);
    m_pModel->setHorizontalHeaderLabels(headers);
    // A first click on a column sorts it upwards, whatever the column sorted before.
    for (int nColumn = 0; nColumn < headers.size(); ++nColumn)
        m_pModel->setHeaderData(nColumn, Qt::Horizontal, Qt::AscendingOrder, Qt::InitialSortOrderRole);

    m_rows = optRows.value_or(std::vector<CJournalRow>{});
    m_strJournalError = optRows ? QString() : FromStd(strError);
    for (std::size_t n = 0; n < m_rows.size(); ++n) {
        QList<QStandardItem*> cells;
        for (const JournalField eField : fields) cells << CellOf(m_rows[n], eField);
        // Which row of the journal a line shows, for the export.
        cells.constFirst()->setData(static_cast<qulonglong>(n), Qt::UserRole);
        m_pModel->appendRow(cells);
    }
    // Newest first, by the start where runs of several stations mix.
    m_pTable->sortByColumn(bFleet ? static_cast<int>(std::find(fields.begin(), fields.end(), JournalField::StartedAt) - fields.begin()) : 0,
                           Qt::DescendingOrder);
    m_pTable->resizeColumnsToContents();
    ShowCount();
}

void CHistoryDlg::OnFilterChanged(const QString& strText)
{
    m_pProxy->setFilterFixedString(strText);
    ShowCount();
}

void CHistoryDlg::ShowCount()
{
    if (!m_strJournalError.isEmpty())
        m_pStatus->setText(m_strJournalError);
    else
        m_pStatus->setText(QStringLiteral("%1 of %2 runs").arg(m_pProxy->rowCount()).arg(m_rows.size()));
}

void CHistoryDlg::OnExport()
{
    QFileDialog dlg(this, QStringLiteral("Export CSV"));
    dlg.setOption(QFileDialog::DontUseNativeDialog);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setNameFilters({QStringLiteral("CSV files (*.csv)"), QStringLiteral("All Files (*.*)")});
    dlg.setDefaultSuffix(QStringLiteral("csv"));
    if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return;
    ExportCsv(dlg.selectedFiles().constFirst());
}

bool CHistoryDlg::ExportCsv(const QString& strPath)
{
    std::vector<CJournalRow> shown;
    for (int nLine = 0; nLine < m_pProxy->rowCount(); ++nLine)
        shown.push_back(m_rows[m_pProxy->index(nLine, 0).data(Qt::UserRole).toULongLong()]);
    std::string strError;
    if (IsJournalFile(strPath.toStdString(), JournalFilePath()))
        strError = JournalFileRefusal(strPath.toStdString());
    else if (WriteJournalCsv(strPath.toStdString(), shown, strError))
        return true;
    QMessageBox box(QMessageBox::Warning, windowTitle(), FromStd(strError), QMessageBox::Ok, this);
    box.exec();
    return false;
}

}  // namespace kestrel
