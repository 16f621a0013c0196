// quenfell-db's manual page and bash completion: the page renders without warnings, carries the
// version, its synopsis is the usage line and it covers every option; the completion offers what
// each word takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "dbtest.h"
#include "testsupport/logbuilder.h"

namespace {

std::string const s_strManBuilt = std::string(QF_MAN_DIR) + "/quenfell-db.1";
std::string const s_strCompletion = std::string(QF_SOURCE_DIR) + "/docs/quenfell-db.bash-completion";

TEST(DbDocs, ManualPageRendersShowsTheVersionAndCoversTheUsage)
{
    std::string strMan = ReadText(s_strManBuilt);
    ASSERT_FALSE(strMan.empty());
    EXPECT_NE(strMan.find("\n.TH QUENFELL-DB 1 "), std::string::npos);
    EXPECT_NE(strMan.find(" \"Quenfell " QF_VERSION "\" "), std::string::npos);
    RunResult rUsage = RunDb({"-h"});
    ASSERT_EQ(rUsage.status, 0);
    for (char const* szOption : {"-z", "-j", "--csv", "--price", "-h", "--help", "--version", "--"}) {
        EXPECT_NE(rUsage.out.find(szOption), std::string::npos) << szOption;
        std::string strMacro = std::string("\\-") + (szOption + 1);
        for (size_t ich = 0; (ich = strMacro.find('-', ich + 2)) != std::string::npos;)
            strMacro.replace(ich, 1, "\\-"), ich++;
        EXPECT_TRUE(strMan.find("\n.BI " + strMacro + " ") != std::string::npos ||
                    strMan.find("\n.BR " + strMacro + " ") != std::string::npos ||
                    strMan.find(" " + strMacro + "\n") != std::string::npos ||
                    strMan.find("\n.B " + strMacro + "\n") != std::string::npos)
            << szOption;
    }
    RunResult rVersion = RunDb({"--version"});
    EXPECT_EQ(rVersion.out, "quenfell-db " QF_VERSION "\n");

    if (access("/usr/bin/man", X_OK) != 0)
        GTEST_SKIP() << "no man: the page was not rendered";
    RunResult rWarnings =
        RunProgram({"/bin/sh", "-c", "MANWIDTH=80 man --warnings -l \"$0\" 2>&1 >/dev/null", s_strManBuilt});
    EXPECT_EQ(rWarnings.out, "");
    RunResult rPage = RunProgram({"/bin/sh", "-c", "MANWIDTH=200 man -l \"$0\" 2>/dev/null", s_strManBuilt});
    std::string strUsage = rUsage.out.substr(7, rUsage.out.find('\n') - 7);
    EXPECT_NE(rPage.out.find("SYNOPSIS\n       " + strUsage + "\n"), std::string::npos) << rPage.out;
}

std::vector<std::string> Complete(std::vector<std::string> const& rgstrWord, std::string const& strDir)
{
    std::vector<std::string> argv{"/bin/bash", "-c",
                                  "source \"$0\" && COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)); _quenfell_db; "
                                  "for s in \"${COMPREPLY[@]}\"; do printf '%s\\n' \"$s\"; done",
                                  s_strCompletion};
    argv.insert(argv.end(), rgstrWord.begin(), rgstrWord.end());
    RunResult r = RunProgram(argv, "UTC", strDir);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> rgstr;
    std::istringstream lines(r.out);
    for (std::string strLine; std::getline(lines, strLine);)
        rgstr.push_back(strLine);
    std::sort(rgstr.begin(), rgstr.end());
    return rgstr;
}

TEST(DbDocs, BashCompletion)
{
    if (access("/bin/bash", X_OK) != 0)
        GTEST_SKIP() << "no bash";
    std::string strDir = TempDir();
    mkdir((strDir + "/sub").c_str(), 0700);
    for (char const* sz : {"car.db", "a.tar", "B.TAR", "notes.txt", "vms_log", "sub/c.tar"})
        WriteText(strDir + "/" + sz, "");
    using V = std::vector<std::string>;
    struct CASE {
        V rgstrWord;
        V rgstrExpect;
    };
    CASE const rgcase[] = {
        {{"quenfell-db", "-"}, {"--csv", "--help", "--price", "--version", "-h", "-j", "-z"}},
        {{"quenfell-db", "--csv", "out", "--price", ""}, {}},
        {{"quenfell-db", "--price", "0.30", "car.db", ""}, {"B.TAR", "a.tar", "sub", "vms_log"}},
        {{"quenfell-db", ""}, {"B.TAR", "a.tar", "car.db", "notes.txt", "sub", "vms_log"}},
        {{"quenfell-db", "car.db", ""}, {"B.TAR", "a.tar", "sub", "vms_log"}},
        {{"quenfell-db", "-j", "all.log", "car.db", "sub/"}, {"sub/c.tar"}},
        {{"quenfell-db", "-j", "n"}, {"notes.txt"}},
        {{"quenfell-db", "--csv", ""}, {"sub"}},
        {{"quenfell-db", "-z", "UT"}, {"UTC "}},
    };
    for (CASE const& c : rgcase) {
        std::string strWords;
        for (std::string const& str : c.rgstrWord)
            strWords += "[" + str + "]";
        if (c.rgstrWord[1] == "-z" && access("/usr/share/zoneinfo/UTC", F_OK) != 0)
            continue;
        EXPECT_EQ(Complete(c.rgstrWord, strDir), c.rgstrExpect) << strWords;
    }
}

}  // namespace
