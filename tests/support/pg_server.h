#pragma once
// A PostgreSQL server of its own for as long as it lives: a fresh cluster in a temporary
// folder, reached only through a Unix socket in that folder. Its superuser kestrel_admin
// connects without a password; every other role must give its own. PostgreSQL refuses to run
// as root, so under a root test the server runs as nobody.
//
// The test process becomes a child subreaper: the postmaster that pg_ctl leaves behind, and
// the server processes a killed postmaster leaves, become its children, so it waits for them
// and reaps them itself instead of relying on whatever runs as PID 1. A new postmaster refuses
// a data folder while an old one's process still exists, even as an unreaped zombie.
//
// A test program that includes this links kestrel_pg_server_fixture (tests/CMakeLists.txt),
// which brings libpq and KESTREL_PG_BINDIR, the folder of initdb, pg_ctl and postgres.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/child_process.h"

#ifndef KESTREL_PG_BINDIR
#error "link kestrel_pg_server_fixture: it says where PostgreSQL's programs are"
#endif

namespace kestrel::test {

// The parent of a process, from /proc; -1 when there is no such process.
inline pid_t ParentOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    // The command name in parentheses may hold spaces and parentheses itself.
    const std::size_t paren = line.rfind(')');
    if (paren == std::string::npos) return -1;
    std::istringstream fields(line.substr(paren + 1));
    char state = 0;
    pid_t ppid = -1;
    return fields >> state >> ppid ? ppid : -1;
}

// The processes whose parent is `parent`.
inline std::vector<pid_t> ChildrenOf(pid_t parent)
{
    std::vector<pid_t> children;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        const auto pid = static_cast<pid_t>(std::stol(name));
        if (ParentOf(pid) == parent) children.push_back(pid);
    }
    return children;
}

class CPgServer {
public:
    static constexpr const char* kAdminRole = "kestrel_admin";
    // Only part of the socket's name: no other server has a socket in this folder.
    static constexpr int kPort = 5432;

    CPgServer()
    {
        if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0) ADD_FAILURE() << "PR_SET_CHILD_SUBREAPER: " << std::strerror(errno);
        std::string folder = (std::filesystem::temp_directory_path() / "kestrel-pg-XXXXXX").string();
        if (mkdtemp(folder.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
            return;
        }
        m_strFolder = folder;
        if (geteuid() == 0 && !RunAsNobody()) return;
        if (MakeCluster()) Start();
    }
    ~CPgServer()
    {
        if (m_nPidFd >= 0) {
            const bool stopped = !Running() || Run({"pg_ctl", "-D", DataDir(), "-m", "immediate", "-w", "stop"});
            if (!stopped || !Reap()) Kill();
        }
        std::error_code ec;
        if (!m_strFolder.empty()) std::filesystem::remove_all(m_strFolder, ec);
    }
    CPgServer(const CPgServer&) = delete;
    CPgServer& operator=(const CPgServer&) = delete;

    // Starts the cluster again as it was left, recovering first after a Kill.
    void Start()
    {
        if (Running()) {
            ADD_FAILURE() << "Start: the server already runs";
            return;
        }
        if (m_nPidFd >= 0) Reap();  // it ended by itself
        const bool started = Run({"pg_ctl", "-D", DataDir(), "-l", LogPath(), "-w", "start"});
        // pg_ctl has ended, so its postmaster is a child of ours now. One that pg_ctl gave up
        // waiting for is kept too, for the destructor to end; the lock file of an earlier
        // postmaster may name a process that is not ours at all.
        std::ifstream lock(DataDir() + "/postmaster.pid");
        pid_t pid = 0;
        const int pidFd = lock >> pid && ParentOf(pid) == getpid() ? PidFd(pid) : -1;
        if (pidFd >= 0) {
            m_nPid = pid;
            m_nPidFd = pidFd;
        } else if (started) {
            ADD_FAILURE() << "no postmaster after pg_ctl start\n" << ServerLog();
        }
    }
    // A clean shutdown: open transactions are rolled back, and a checkpoint is written.
    void Stop()
    {
        if (!Running()) {
            ADD_FAILURE() << "Stop: the server does not run";
            return;
        }
        if (Run({"pg_ctl", "-D", DataDir(), "-m", "fast", "-w", "stop"}) && !Reap())
            ADD_FAILURE() << "the postmaster did not end after pg_ctl stop";
    }
    // A crash: SIGKILL to the postmaster, no checkpoint, so the next Start recovers from the
    // WAL. Its other processes end by themselves once it has gone; Kill returns when they have,
    // as a new postmaster refuses the data folder while one of them still holds its memory.
    void Kill()
    {
        if (!Running()) {
            ADD_FAILURE() << "Kill: the server does not run";
            return;
        }
        // Stopped, it starts no process while its children are listed.
        kill(m_nPid, SIGSTOP);
        waitpid(m_nPid, nullptr, WUNTRACED);
        std::vector<std::pair<pid_t, int>> children;
        for (pid_t child : ChildrenOf(m_nPid)) children.emplace_back(child, PidFd(child));
        kill(m_nPid, SIGKILL);
        if (!Reap()) ADD_FAILURE() << "the postmaster outlived SIGKILL";
        for (const auto& [pid, fd] : children) {
            if (fd >= 0 && !Ended(fd, kWaitMs)) {
                ADD_FAILURE() << "server process " << pid << " outlived its postmaster";
                kill(pid, SIGKILL);
            }
            waitpid(pid, nullptr, 0);
            if (fd >= 0) close(fd);
        }
    }
    bool Running() const { return m_nPidFd >= 0 && !Ended(m_nPidFd, 0); }

    std::string Folder() const { return m_strFolder; }
    // Everything the server has logged since the cluster was made.
    std::string ServerLog() const
    {
        std::ifstream in(LogPath());
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    // libpq connection URIs, without a password: the admin needs none, and any other role's
    // comes from the password file, when one is given.
    std::string AdminUri(const std::string& db = "postgres") const { return Uri(db, kAdminRole); }
    std::string Uri(const std::string& db, const std::string& user, const std::string& passFile = {}) const
    {
        std::string uri = "postgresql:///" + UriText(db) + "?host=" + UriText(m_strFolder) +
                          "&port=" + std::to_string(kPort) + "&user=" + UriText(user);
        if (!passFile.empty()) uri += "&passfile=" + UriText(passFile);
        return uri;
    }
    // A password file (PGPASSFILE, or the passfile parameter) with the one line for this
    // server and user; libpq ignores a file that others may read.
    std::string WritePassFile(const std::string& user, const std::string& password)
    {
        const std::string path = m_strFolder + "/pgpass-" + std::to_string(++m_nPassFiles);
        std::ofstream out(path);
        out << PassField(m_strFolder) << ':' << kPort << ":*:" << PassField(user) << ':' << PassField(password) << '\n';
        out.close();
        EXPECT_TRUE(out.good()) << path;
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, ec);
        EXPECT_FALSE(ec) << path << ": " << ec.message();
        return path;
    }

    // Runs SQL, one statement or several, as the admin; an error fails the test with the
    // server's message.
    void Sql(const std::string& sql, const std::string& db = "postgres")
    {
        const std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(AdminUri(db).c_str()), &PQfinish);
        if (PQstatus(conn.get()) != CONNECTION_OK) {
            ADD_FAILURE() << "connecting to " << db << ": " << PQerrorMessage(conn.get());
            return;
        }
        const std::unique_ptr<PGresult, decltype(&PQclear)> result(PQexec(conn.get(), sql.c_str()), &PQclear);
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
            ADD_FAILURE() << sql << "\n" << PQerrorMessage(conn.get());
    }
    // owner: the role that owns it; empty leaves it the admin's.
    std::string CreateDatabase(const std::string& name, const std::string& owner = {})
    {
        Sql("CREATE DATABASE " + Identifier(name) + (owner.empty() ? "" : " OWNER " + Identifier(owner)));
        return name;
    }
    // A role that logs in with the password; extra: more of CREATE ROLE's options (CREATEDB, ...).
    void CreateRole(const std::string& name, const std::string& password, const std::string& extra = {})
    {
        Sql("CREATE ROLE " + Identifier(name) + " LOGIN PASSWORD " + Literal(password) + (extra.empty() ? "" : " " + extra));
    }

private:
    static constexpr int kCommandMs = 120000;
    static constexpr int kWaitMs = 30000;

    std::string DataDir() const { return m_strFolder + "/data"; }
    std::string LogPath() const { return m_strFolder + "/server.log"; }

    // The server's programs run as nobody, which must own the folder to make the cluster in it.
    bool RunAsNobody()
    {
        const passwd* pw = getpwnam("nobody");
        const std::string setpriv = ProgramInPath("setpriv");
        if (pw == nullptr || setpriv.empty()) {
            ADD_FAILURE() << "running the server as nobody needs that user and setpriv";
            return false;
        }
        if (chown(m_strFolder.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
            ADD_FAILURE() << "chown " << m_strFolder << ": " << std::strerror(errno);
            return false;
        }
        m_asUser = {setpriv, "--reuid=" + std::to_string(pw->pw_uid), "--regid=" + std::to_string(pw->pw_gid),
                    "--clear-groups", "--"};
        return true;
    }

    bool MakeCluster()
    {
        // No locale: text compares and sorts alike on every machine. No sync: the cluster
        // never outlives the test.
        if (!Run({"initdb", "-D", DataDir(), "-U", kAdminRole, "-A", "trust", "--no-locale", "-E", "UTF8", "--no-sync",
                  "--no-instructions"}))
            return false;
        std::ofstream conf(DataDir() + "/postgresql.conf", std::ios::app);
        conf << "listen_addresses = ''\n"
             << "unix_socket_directories = " << ConfText(m_strFolder) << "\n"
             << "port = " << kPort << "\n"
             // What a killed server wrote is in the kernel's page cache all the same. Commits
             // stay synchronous: a commit's WAL must leave the server's memory before it
             // returns, or Kill would lose it.
             << "fsync = off\n"
             << "shared_buffers = 16MB\n"
             << "max_connections = 20\n";
        std::ofstream hba(DataDir() + "/pg_hba.conf", std::ios::trunc);
        hba << "local all " << kAdminRole << " trust\n"
            << "local all all scram-sha-256\n";
        conf.close();
        hba.close();
        EXPECT_TRUE(conf.good() && hba.good()) << "writing the configuration in " << DataDir();
        return conf.good() && hba.good();
    }

    // Runs one of the server's programs as the server's user, in its folder; a failure fails
    // the test with what the program and the server said.
    bool Run(std::vector<std::string> args)
    {
        args[0] = std::string(KESTREL_PG_BINDIR) + "/" + args[0];
        args.insert(args.begin(), m_asUser.begin(), m_asUser.end());
        CChildProcess child(args, -1, m_strFolder);
        const ChildResult result = child.Finish(kCommandMs);
        if (result.nExitCode == 0) return true;
        ADD_FAILURE() << args[m_asUser.size()] << " exited with " << result.nExitCode << "\n"
                      << result.strOut << result.strErr << ServerLog();
        return false;
    }

    // Waits for the postmaster to end, then reaps it; false if it still runs after kWaitMs.
    bool Reap()
    {
        if (!Ended(m_nPidFd, kWaitMs)) return false;
        waitpid(m_nPid, nullptr, 0);
        close(m_nPidFd);
        m_nPidFd = -1;
        m_nPid = -1;
        return true;
    }

    // A descriptor that becomes readable when the process ends, whoever its parent.
    static int PidFd(pid_t pid) { return static_cast<int>(syscall(SYS_pidfd_open, pid, 0)); }
    static bool Ended(int pidFd, int timeoutMs)
    {
        pollfd p{pidFd, POLLIN, 0};
        return poll(&p, 1, timeoutMs) > 0;
    }

    static std::string ProgramInPath(const std::string& name)
    {
        const char* path = getenv("PATH");
        std::istringstream folders(path ? path : "/usr/bin:/bin");
        for (std::string folder; std::getline(folders, folder, ':');)
            if (!folder.empty() && access((folder + "/" + name).c_str(), X_OK) == 0) return folder + "/" + name;
        return {};
    }
    static std::string Identifier(const std::string& name) { return Quoted(name, '"'); }
    // With standard_conforming_strings, as the server has it: a backslash is just a backslash.
    static std::string Literal(const std::string& text) { return Quoted(text, '\''); }
    static std::string Quoted(const std::string& text, char quote)
    {
        std::string quoted(1, quote);
        for (char c : text) quoted += c == quote ? std::string(2, c) : std::string(1, c);
        return quoted + quote;
    }
    // A string in postgresql.conf, where a backslash starts an escape.
    static std::string ConfText(const std::string& text)
    {
        std::string quoted = "'";
        for (char c : text) quoted += c == '\'' || c == '\\' ? std::string{'\\', c} : std::string(1, c);
        return quoted + "'";
    }
    // A field of a password file, where ':' separates and '\' escapes.
    static std::string PassField(const std::string& text)
    {
        std::string field;
        for (char c : text) field += c == ':' || c == '\\' ? std::string{'\\', c} : std::string(1, c);
        return field;
    }
    static std::string UriText(const std::string& text)
    {
        std::string encoded;
        for (unsigned char c : text) {
            if (std::isalnum(c) || std::string_view("-._~/").find(static_cast<char>(c)) != std::string_view::npos) {
                encoded += static_cast<char>(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                encoded += hex;
            }
        }
        return encoded;
    }

    std::string m_strFolder;
    std::vector<std::string> m_asUser;  // what runs a program as the server's user; empty: as ours
    pid_t m_nPid = -1;                  // the postmaster
    int m_nPidFd = -1;
    int m_nPassFiles = 0;
};

}  // namespace kestrel::test
