#pragma once
// A thin hold on the sqlite3 C library: a connection and its prepared statements, closed and
// finalised when they go.

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "services/sql_value.h"

namespace kestrel {

class CSqliteDb {
public:
    // The result code of sqlite3_open_v2; the connection is kept even on failure, for its message.
    int Open(const std::string& strPath, int nFlags);
    void Close() { m_pDb.reset(); }
    sqlite3* Get() const { return m_pDb.get(); }
    bool IsOpen() const { return m_pDb != nullptr; }
    // Runs statements without results; the result code.
    int Exec(const char* pszSql);
    std::string Error() const;

private:
    struct SClose {
        void operator()(sqlite3* pDb) const { sqlite3_close_v2(pDb); }
    };
    std::unique_ptr<sqlite3, SClose> m_pDb;
};

class CStatement {
public:
    CStatement(const CSqliteDb& db, std::string_view strSql);
    // The result code of the preparation.
    int Prepared() const { return m_nPrepared; }
    // Parameters count from 1.
    void Bind(int nIndex, const SqlValue& value);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step();
    // Columns count from 0.
    SqlValue Column(int nIndex) const;
    int64_t Int(int nIndex) const { return sqlite3_column_int64(m_pStmt.get(), nIndex); }
    std::string Text(int nIndex) const;

private:
    struct SFinalize {
        void operator()(sqlite3_stmt* pStmt) const { sqlite3_finalize(pStmt); }
    };
    std::unique_ptr<sqlite3_stmt, SFinalize> m_pStmt;
    int m_nPrepared = SQLITE_ERROR;
};

}  // namespace kestrel
