// What the journal keeps for the fleet's server: which revision of each row it has, and how
// the last attempt to reach it went.

#include <QDateTime>

#include "services/journal.h"

namespace kestrel {

std::optional<std::vector<CJournal::SRevisedRow>> CJournal::RowsToForward(int nMax)
{
    if (!IsOpen()) return std::nullopt;
    CStatement query(m_db, "SELECT revision, " + m_strColumns + " FROM runs WHERE forwarded < revision ORDER BY id LIMIT ?1");
    query.Bind(1, int64_t{nMax});
    std::vector<SRevisedRow> rows;
    int nResult;
    while ((nResult = query.Step()) == SQLITE_ROW) {
        SRevisedRow revised;
        revised.nRevision = query.Int(0);
        int nColumn = 1;
        for (const SJournalFieldInfo& info : JournalFields()) revised.row.Set(info.eField, query.Column(nColumn++));
        rows.push_back(std::move(revised));
    }
    if (nResult != SQLITE_DONE) {
        m_strError = m_strPath + " cannot be read: " + m_db.Error();
        m_bBusy = (nResult & 0xFF) == SQLITE_BUSY;
        return std::nullopt;
    }
    return rows;
}

bool CJournal::MarkForwarded(const std::vector<SRevisedRow>& rows)
{
    if (!IsOpen()) return false;
    if (m_db.Exec("BEGIN IMMEDIATE") != SQLITE_OK) {
        m_strError = m_db.Error();
        return false;
    }
    for (const SRevisedRow& revised : rows) {
        CStatement mark(m_db, "UPDATE runs SET forwarded = ?2 WHERE id = ?1 AND forwarded < ?2");
        mark.Bind(1, revised.row.Get(JournalField::Id));
        mark.Bind(2, revised.nRevision);
        if (mark.Step() != SQLITE_DONE) {
            m_strError = m_db.Error();
            m_db.Exec("ROLLBACK");
            return false;
        }
    }
    if (m_db.Exec("COMMIT") != SQLITE_OK) {
        m_strError = m_db.Error();
        m_db.Exec("ROLLBACK");
        return false;
    }
    return true;
}

bool CJournal::NoteForwarding(const std::string& strError)
{
    if (!IsOpen()) return false;
    if (m_db.Exec("BEGIN IMMEDIATE") != SQLITE_OK) return false;
    CStatement note(m_db, "INSERT INTO forwarding (attempted_at, error) VALUES (?1, ?2)");
    note.Bind(1, QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs).toStdString());
    note.Bind(2, strError.empty() ? SqlValue() : SqlValue(strError));
    const bool bSaved = m_db.Exec("DELETE FROM forwarding") == SQLITE_OK && note.Step() == SQLITE_DONE;
    if (!bSaved || m_db.Exec("COMMIT") != SQLITE_OK) {
        m_strError = m_db.Error();
        m_db.Exec("ROLLBACK");
        return false;
    }
    return true;
}

std::optional<CJournal::SForwarding> CJournal::Forwarding()
{
    SForwarding forwarding;
    if (m_bNoJournalYet) return forwarding;
    if (!IsOpen()) return std::nullopt;
    const bool bTracked = m_nVersion >= 5;
    CStatement waiting(m_db, bTracked ? "SELECT count(*) FROM runs WHERE forwarded < revision" : "SELECT count(*) FROM runs");
    if (waiting.Step() != SQLITE_ROW) {
        m_strError = m_strPath + " cannot be read: " + m_db.Error();
        return std::nullopt;
    }
    forwarding.nWaiting = waiting.Int(0);
    if (!bTracked) return forwarding;
    CStatement station(m_db, "SELECT id FROM station");
    if (station.Step() == SQLITE_ROW) forwarding.strStationId = station.Text(0);
    CStatement last(m_db, "SELECT attempted_at, error FROM forwarding");
    if (last.Step() == SQLITE_ROW) {
        forwarding.strAttemptedAt = last.Text(0);
        forwarding.strError = last.Text(1);
    }
    return forwarding;
}

}  // namespace kestrel
