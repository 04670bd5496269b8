#include "services/sqlite_db.h"

namespace kestrel {

int CSqliteDb::Open(const std::string& strPath, int nFlags)
{
    sqlite3* pDb = nullptr;
    const int nResult = sqlite3_open_v2(strPath.c_str(), &pDb, nFlags, nullptr);
    m_pDb.reset(pDb);
    if (pDb != nullptr) sqlite3_extended_result_codes(pDb, 1);
    return nResult;
}

int CSqliteDb::Exec(const char* pszSql) { return sqlite3_exec(m_pDb.get(), pszSql, nullptr, nullptr, nullptr); }

std::string CSqliteDb::Error() const { return m_pDb ? sqlite3_errmsg(m_pDb.get()) : "out of memory"; }

CStatement::CStatement(const CSqliteDb& db, std::string_view strSql)
{
    sqlite3_stmt* pStmt = nullptr;
    m_nPrepared = sqlite3_prepare_v2(db.Get(), strSql.data(), static_cast<int>(strSql.size()), &pStmt, nullptr);
    m_pStmt.reset(pStmt);
}

void CStatement::Bind(int nIndex, const SqlValue& value)
{
    if (const auto* pNumber = std::get_if<int64_t>(&value))
        sqlite3_bind_int64(m_pStmt.get(), nIndex, *pNumber);
    else if (const auto* pText = std::get_if<std::string>(&value))
        sqlite3_bind_text(m_pStmt.get(), nIndex, pText->data(), static_cast<int>(pText->size()), SQLITE_TRANSIENT);
    else
        sqlite3_bind_null(m_pStmt.get(), nIndex);
}

int CStatement::Step() { return m_pStmt ? sqlite3_step(m_pStmt.get()) : m_nPrepared; }

SqlValue CStatement::Column(int nIndex) const
{
    switch (sqlite3_column_type(m_pStmt.get(), nIndex)) {
    case SQLITE_INTEGER: return Int(nIndex);
    case SQLITE_NULL: return {};
    default: return Text(nIndex);
    }
}

std::string CStatement::Text(int nIndex) const
{
    const auto* pText = reinterpret_cast<const char*>(sqlite3_column_text(m_pStmt.get(), nIndex));
    return pText ? std::string(pText, static_cast<std::size_t>(sqlite3_column_bytes(m_pStmt.get(), nIndex))) : std::string();
}

}  // namespace kestrel
