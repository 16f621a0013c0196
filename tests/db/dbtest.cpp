#include "dbtest.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testsupport/logbuilder.h"

RunResult RunDb(std::vector<std::string> const& args, std::string const& tz)
{
    std::vector<std::string> argv{QF_DB_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, tz);
}

std::string JoinOf(std::vector<std::string> const& rgstrPath)
{
    std::string strOut = TempDir() + "/joined.log";
    std::vector<std::string> args{"-j", strOut};
    args.insert(args.end(), rgstrPath.begin(), rgstrPath.end());
    RunResult r = RunQuenfell(args);
    EXPECT_EQ(r.status, 0) << r.err;
    return ReadText(strOut);
}

std::string JoinedFromDb(std::string const& strDb)
{
    std::string strOut = TempDir() + "/fromdb.log";
    RunResult r = RunDb({"-j", strOut, strDb});
    EXPECT_EQ(r.status, 0) << r.err;
    return r.status == 0 ? ReadText(strOut) : "";
}

CARSET const& Downloads()
{
    static CARSET s_set = [] {
        CARSET set;
        std::string strDir = TempDir();
        char const* const rgszStop[] = {"2010-02-01 08:00", "2010-02-05 08:00", "2010-02-09 08:00",
                                        "2010-02-13 08:00", "2010-02-17 08:00", "2010-02-21 08:00"};
        for (int i = 0; i < 6; i++) {
            std::string strStop = rgszStop[i];
            bool fTar = i % 2 == 0;
            std::string strName = fTar ? strStop.substr(0, 4) + strStop.substr(5, 2) + strStop.substr(8, 2) +
                                             strStop.substr(11, 2) + strStop.substr(14, 2) + ".tar"
                                       : "d" + std::to_string(i) + ".log";
            std::string strPath = strDir + "/" + strName;
            std::vector<std::string> argv{PathGenlog(), "--seed", "3", "--days", "40", "--end", "2010-03-01 08:00",
                                          "--stop", strStop, "--ring", "1M", "--out", strPath};
            if (fTar)
                argv.push_back("--tar");
            RunResult r = RunProgram(argv);
            EXPECT_EQ(r.status, 0) << r.err;
            set.rgstrPath.push_back(strPath);
        }
        set.strJoined = JoinOf(set.rgstrPath);
        return set;
    }();
    return s_set;
}

CHILD::~CHILD()
{
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (fdErr >= 0)
        close(fdErr);
}

void StartDb(CHILD* pchild, std::vector<std::string> const& args, std::vector<std::string> const& env,
             long long cbFileMax, bool fKeepPermissions)
{
    int rgfd[2];
    ASSERT_EQ(pipe(rgfd), 0);
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        int fdNull = open("/dev/null", O_RDWR);
        dup2(fdNull, 0);
        dup2(fdNull, 1);
        dup2(rgfd[1], 2);
        close(rgfd[0]);
        setenv("TZ", "UTC", 1);
        for (std::string const& str : env)
            putenv(strdup(str.c_str()));
        if (cbFileMax > 0) {
            struct rlimit rl = {(rlim_t)cbFileMax, (rlim_t)cbFileMax};
            setrlimit(RLIMIT_FSIZE, &rl);
        }
        // Out of the bounding set, the capabilities are not given back when root runs the program.
        if (fKeepPermissions) {
            prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0);
            prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0);
        }
        std::vector<char*> argv{const_cast<char*>(QF_DB_BINARY)};
        for (std::string const& str : args)
            argv.push_back(const_cast<char*>(str.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(rgfd[1]);
    pchild->pid = pid;
    pchild->fdErr = rgfd[0];
}

namespace {

bool FReadMore(CHILD* pchild)
{
    char rgch[4096];
    for (;;) {
        ssize_t cb = read(pchild->fdErr, rgch, sizeof rgch);
        if (cb < 0 && errno == EINTR)
            continue;
        if (cb <= 0)
            return false;
        pchild->strErr.append(rgch, (size_t)cb);
        return true;
    }
}

}  // namespace

bool FWaitForText(CHILD* pchild, char const* szText)
{
    while (pchild->strErr.find(szText) == std::string::npos) {
        if (!FReadMore(pchild))
            return false;
    }
    return true;
}

int WaitForEnd(CHILD* pchild)
{
    while (FReadMore(pchild)) {
    }
    int wstatus = 0;
    waitpid(pchild->pid, &wstatus, 0);
    pchild->pid = -1;
    return WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
}

std::string StrQuery(std::string const& strDb, std::string const& strSql)
{
    sqlite3* pdb = nullptr;
    std::string str;
    if (sqlite3_open_v2(strDb.c_str(), &pdb, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* pstmt = nullptr;
        if (sqlite3_prepare_v2(pdb, strSql.c_str(), -1, &pstmt, nullptr) == SQLITE_OK &&
            sqlite3_step(pstmt) == SQLITE_ROW && sqlite3_column_text(pstmt, 0))
            str = (char const*)sqlite3_column_text(pstmt, 0);
        else
            ADD_FAILURE() << strSql << ": " << sqlite3_errmsg(pdb);
        sqlite3_finalize(pstmt);
    }
    sqlite3_close(pdb);
    return str;
}

std::string StrDump(std::string const& strDb)
{
    sqlite3* pdb = nullptr;
    std::string str;
    EXPECT_EQ(sqlite3_open_v2(strDb.c_str(), &pdb, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    std::vector<std::string> rgstrTable;
    sqlite3_stmt* pstmt = nullptr;
    sqlite3_prepare_v2(pdb, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name", -1, &pstmt, nullptr);
    while (sqlite3_step(pstmt) == SQLITE_ROW)
        rgstrTable.push_back((char const*)sqlite3_column_text(pstmt, 0));
    sqlite3_finalize(pstmt);
    for (std::string const& strTable : rgstrTable) {
        str += "[" + strTable + "]\n";
        sqlite3_prepare_v2(pdb, ("SELECT * FROM " + strTable + " ORDER BY rowid").c_str(), -1, &pstmt, nullptr);
        while (sqlite3_step(pstmt) == SQLITE_ROW) {
            for (int i = 0; i < sqlite3_column_count(pstmt); i++) {
                unsigned char const* pch = sqlite3_column_text(pstmt, i);
                str += pch ? std::string((char const*)pch, (size_t)sqlite3_column_bytes(pstmt, i)) : "NULL";
                str += '|';
            }
            str += '\n';
        }
        sqlite3_finalize(pstmt);
    }
    sqlite3_close(pdb);
    return str;
}

// An RFC 4180 reader: fields in double quotes may hold commas, quotes (doubled) and line ends;
// every record ends with CRLF.
std::vector<std::vector<std::string>> RowsOfCsv(std::string const& str, bool* pfWellFormed)
{
    std::vector<std::vector<std::string>> rgrow;
    std::vector<std::string> row;
    std::string strField;
    *pfWellFormed = true;
    size_t i = 0;
    bool fQuoted = false;
    while (i < str.size()) {
        char ch = str[i];
        if (fQuoted) {
            if (ch == '"' && i + 1 < str.size() && str[i + 1] == '"') {
                strField += '"';
                i += 2;
            } else if (ch == '"') {
                fQuoted = false;
                i++;
            } else {
                strField += ch;
                i++;
            }
            continue;
        }
        if (ch == '"' && strField.empty()) {
            fQuoted = true;
            i++;
        } else if (ch == ',') {
            row.push_back(strField);
            strField.clear();
            i++;
        } else if (ch == '\r' && i + 1 < str.size() && str[i + 1] == '\n') {
            row.push_back(strField);
            strField.clear();
            rgrow.push_back(row);
            row.clear();
            i += 2;
        } else if (ch == '\n' || ch == '\r' || ch == '"') {
            *pfWellFormed = false;
            i++;
        } else {
            strField += ch;
            i++;
        }
    }
    if (!row.empty() || !strField.empty() || fQuoted)
        *pfWellFormed = false;
    return rgrow;
}
