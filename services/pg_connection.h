#pragma once
// One connection to a PostgreSQL server through libpq, for one thread, that never waits past
// a deadline: every wait is a poll of the server's socket beside a wake-up another thread can
// give, which may also bring every deadline forward (a program that closes).

#include <libpq-fe.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel {

using PgClock = std::chrono::steady_clock;
using PgParam = std::optional<std::string>;  // nullopt sends NULL

// Shared between the connection's thread and one that may cut its waits short.
class CPgInterrupt {
public:
    CPgInterrupt();
    ~CPgInterrupt();
    CPgInterrupt(const CPgInterrupt&) = delete;
    CPgInterrupt& operator=(const CPgInterrupt&) = delete;

    // Any thread: no wait goes on past this time.
    void CapAt(PgClock::time_point cap);
    PgClock::time_point Cap() const { return PgClock::time_point(PgClock::duration(m_nCap.load())); }
    int Fd() const { return m_nFd; }
    void Drain() const;

private:
    int m_nFd = -1;  // an eventfd
    std::atomic<PgClock::rep> m_nCap{PgClock::time_point::max().time_since_epoch().count()};
};

class CPgResult {
public:
    explicit CPgResult(PGresult* pResult) : m_pResult(pResult) {}
    int Rows() const { return PQntuples(m_pResult.get()); }
    bool IsNull(int nRow, int nColumn) const { return PQgetisnull(m_pResult.get(), nRow, nColumn) != 0; }
    std::string Text(int nRow, int nColumn) const { return PQgetvalue(m_pResult.get(), nRow, nColumn); }
    std::optional<std::string> Value(int nRow, int nColumn) const
    {
        return IsNull(nRow, nColumn) ? std::nullopt : std::optional(Text(nRow, nColumn));
    }

private:
    struct SClear {
        void operator()(PGresult* p) const { PQclear(p); }
    };
    std::unique_ptr<PGresult, SClear> m_pResult;
};

class CPgConnection {
public:
    explicit CPgConnection(const CPgInterrupt& interrupt) : m_interrupt(interrupt) {}
    ~CPgConnection() { Close(); }
    CPgConnection(const CPgConnection&) = delete;
    CPgConnection& operator=(const CPgConnection&) = delete;

    // strUri: a libpq connection URI or key=value string. False with LastError(), which never
    // holds the password.
    bool Connect(const std::string& strUri, PgClock::time_point deadline);
    bool IsOpen() const { return m_pConn != nullptr; }
    void Close();
    // One statement with text parameters ($1, ...); the last result, or nullopt with LastError().
    // A failure of the connection closes it.
    std::optional<CPgResult> Exec(const std::string& strSql, const std::vector<PgParam>& params, PgClock::time_point deadline);
    const std::string& LastError() const { return m_strError; }
    // The SQLSTATE of the last failed statement; empty when the connection failed.
    const std::string& LastState() const { return m_strState; }

private:
    bool WaitFor(short nEvents, PgClock::time_point deadline);
    bool Fail(const std::string& strWhat);
    std::string Scrubbed(std::string strText) const;

    const CPgInterrupt& m_interrupt;
    PGconn* m_pConn = nullptr;
    std::string m_strPassword;  // taken out of every message
    std::string m_strError;
    std::string m_strState;
};

// The connection string without its password, fit for a log; what libpq cannot read is shown
// as "(unreadable)".
std::string RedactedConnection(const std::string& strUri);

}  // namespace kestrel
