#include "services/pg_connection.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <regex>

namespace kestrel {
namespace {

struct SConninfoFree {
    void operator()(PQconninfoOption* p) const { PQconninfoFree(p); }
};
using ConninfoPtr = std::unique_ptr<PQconninfoOption, SConninfoFree>;

// libpq's word on a string it cannot read may quote a piece of it, the password perhaps.
std::string WithoutQuotes(const std::string& strText) { return std::regex_replace(strText, std::regex("\"[^\"]*\""), "\"…\""); }

std::string Trimmed(std::string strText)
{
    while (!strText.empty() && (strText.back() == '\n' || strText.back() == ' ')) strText.pop_back();
    return strText;
}

}  // namespace

CPgInterrupt::CPgInterrupt() : m_nFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

CPgInterrupt::~CPgInterrupt()
{
    if (m_nFd >= 0) close(m_nFd);
}

void CPgInterrupt::CapAt(PgClock::time_point cap)
{
    m_nCap = cap.time_since_epoch().count();
    const uint64_t nOne = 1;
    [[maybe_unused]] const ssize_t nWritten = write(m_nFd, &nOne, sizeof nOne);
}

void CPgInterrupt::Drain() const
{
    uint64_t nCount = 0;
    [[maybe_unused]] const ssize_t nRead = read(m_nFd, &nCount, sizeof nCount);
}

std::string RedactedConnection(const std::string& strUri)
{
    char* pszError = nullptr;
    const ConninfoPtr pOptions(PQconninfoParse(strUri.c_str(), &pszError));
    PQfreemem(pszError);
    if (!pOptions) return "(unreadable)";
    std::string strShown;
    for (const PQconninfoOption* pOption = pOptions.get(); pOption->keyword != nullptr; ++pOption) {
        if (pOption->val == nullptr || std::strcmp(pOption->keyword, "password") == 0) continue;
        strShown += (strShown.empty() ? "" : " ") + std::string(pOption->keyword) + "=" + pOption->val;
    }
    return strShown;
}

bool CPgConnection::Fail(const std::string& strWhat)
{
    m_strError = Scrubbed(strWhat);
    return false;
}

std::string CPgConnection::Scrubbed(std::string strText) const
{
    if (m_strPassword.empty()) return strText;
    for (std::size_t nAt; (nAt = strText.find(m_strPassword)) != std::string::npos;) strText.replace(nAt, m_strPassword.size(), "***");
    return strText;
}

void CPgConnection::Close()
{
    if (m_pConn != nullptr) PQfinish(m_pConn);
    m_pConn = nullptr;
}

bool CPgConnection::WaitFor(short nEvents, PgClock::time_point deadline)
{
    for (;;) {
        const PgClock::time_point until = std::min(deadline, m_interrupt.Cap());
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - PgClock::now()).count();
        if (left <= 0) {
            Close();
            return Fail("the server did not answer in time");
        }
        pollfd fds[2] = {{PQsocket(m_pConn), nEvents, 0}, {m_interrupt.Fd(), POLLIN, 0}};
        const int nReady = poll(fds, 2, static_cast<int>(std::min<long long>(left, 60000)));
        if (nReady < 0 && errno != EINTR) {
            Close();
            return Fail(std::string("poll: ") + std::strerror(errno));
        }
        // Woken to look at the cap again.
        if (fds[1].revents != 0) m_interrupt.Drain();
        if (fds[0].revents != 0) return true;
    }
}

bool CPgConnection::Connect(const std::string& strUri, PgClock::time_point deadline)
{
    Close();
    m_strState.clear();
    char* pszError = nullptr;
    const ConninfoPtr pOptions(PQconninfoParse(strUri.c_str(), &pszError));
    if (!pOptions) {
        const std::string strError = pszError != nullptr ? Trimmed(pszError) : "out of memory";
        PQfreemem(pszError);
        return Fail("the connection string cannot be read: " + WithoutQuotes(strError));
    }
    m_strPassword.clear();
    for (const PQconninfoOption* pOption = pOptions.get(); pOption->keyword != nullptr; ++pOption)
        if (std::strcmp(pOption->keyword, "password") == 0 && pOption->val != nullptr) m_strPassword = pOption->val;

    const char* const keywords[] = {"dbname", "fallback_application_name", nullptr};
    const char* const values[] = {strUri.c_str(), "kestrel", nullptr};
    m_pConn = PQconnectStartParams(keywords, values, 1);
    if (m_pConn == nullptr) return Fail("out of memory");
    if (PQstatus(m_pConn) == CONNECTION_BAD) {
        const std::string strError = Trimmed(PQerrorMessage(m_pConn));
        Close();
        return Fail(strError);
    }
    for (PostgresPollingStatusType eStatus = PGRES_POLLING_WRITING;;) {
        if (eStatus == PGRES_POLLING_OK) return true;
        if (eStatus == PGRES_POLLING_FAILED) {
            const std::string strError = Trimmed(PQerrorMessage(m_pConn));
            Close();
            return Fail(strError);
        }
        if (!WaitFor(eStatus == PGRES_POLLING_READING ? POLLIN : POLLOUT, deadline)) return false;
        eStatus = PQconnectPoll(m_pConn);
    }
}

std::optional<CPgResult> CPgConnection::Exec(const std::string& strSql, const std::vector<PgParam>& params, PgClock::time_point deadline)
{
    m_strState.clear();
    if (m_pConn == nullptr) {
        Fail("not connected");
        return std::nullopt;
    }
    std::vector<const char*> values;
    for (const PgParam& param : params) values.push_back(param ? param->c_str() : nullptr);
    const auto broken = [this] {
        const std::string strError = Trimmed(PQerrorMessage(m_pConn));
        Close();
        Fail(strError);
        return std::nullopt;
    };
    // Without parameters several statements may go in one string, as the schema's steps do.
    const int nSent = params.empty() ? PQsendQuery(m_pConn, strSql.c_str())
                                     : PQsendQueryParams(m_pConn, strSql.c_str(), static_cast<int>(values.size()), nullptr,
                                                         values.data(), nullptr, nullptr, 0);
    if (nSent == 0) return broken();
    if (PQsetnonblocking(m_pConn, 1) != 0) return broken();
    for (int nFlush; (nFlush = PQflush(m_pConn)) != 0;) {
        if (nFlush < 0) return broken();
        if (!WaitFor(POLLOUT | POLLIN, deadline)) return std::nullopt;
        if (PQconsumeInput(m_pConn) == 0) return broken();
    }
    std::optional<CPgResult> last;
    std::string strError;
    for (;;) {
        while (PQisBusy(m_pConn) != 0) {
            if (!WaitFor(POLLIN, deadline)) return std::nullopt;
            if (PQconsumeInput(m_pConn) == 0) return broken();
        }
        PGresult* pResult = PQgetResult(m_pConn);
        if (pResult == nullptr) break;
        const ExecStatusType eStatus = PQresultStatus(pResult);
        if (eStatus == PGRES_FATAL_ERROR || eStatus == PGRES_BAD_RESPONSE) {
            const char* pszState = PQresultErrorField(pResult, PG_DIAG_SQLSTATE);
            m_strState = pszState != nullptr ? pszState : "";
            strError = Trimmed(PQresultErrorMessage(pResult));
        }
        last.emplace(pResult);
    }
    if (PQstatus(m_pConn) == CONNECTION_BAD) return broken();
    if (!strError.empty()) {
        Fail(strError);
        return std::nullopt;
    }
    return last;
}

}  // namespace kestrel
