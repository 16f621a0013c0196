// The manual pages and the bash completion: the pages, as the build writes them for installing,
// render without warnings and carry the version; quenfell's covers every option, record code and
// example of the help screen and quenfell-plot's synopsis is its usage line; the completion offers
// what each word takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

const std::string s_pathMan = std::string(QF_SOURCE_DIR) + "/docs/quenfell.1";
const std::string s_pathCompletion = std::string(QF_SOURCE_DIR) + "/docs/quenfell.bash-completion";

bool FExecutable(const char* path)
{
    return access(path, X_OK) == 0;
}

// From the help screen: the option letters ("\t-n    add notes..."), the record codes
// ("\tVINF  Vehicle Info...") and the example commands after the program's name ("\tQuenfell -v ...").
struct HELPITEMS {
    std::vector<std::string> rgstrOption;
    std::vector<std::string> rgstrCode;
    std::vector<std::string> rgstrExample;
};

// "\t%-4s  %s": a code of three or four capitals and digits, blanks up to the description.
bool FCodeLine(const std::string& strLine)
{
    size_t cchCode = strLine.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789", 1) - 1;
    return (cchCode == 3 || cchCode == 4) && strLine.size() >= 7 &&
           strLine.substr(1 + cchCode, 6 - cchCode) == std::string(6 - cchCode, ' ');
}

HELPITEMS HelpItems()
{
    RunResult res = RunQuenfell({"-h"});
    EXPECT_EQ(res.status, 255);
    HELPITEMS items;
    std::istringstream iss(res.err);
    for (std::string strLine; std::getline(iss, strLine);) {
        if (strLine.size() < 4 || strLine[0] != '\t')
            continue;
        if (strLine[1] == '-' && strLine[2] != '-' && strLine[3] == ' ')
            items.rgstrOption.push_back(strLine.substr(2, 1));
        else if (strLine.rfind("\tQuenfell ", 0) == 0)
            items.rgstrExample.push_back(strLine.substr(9));
        else if (FCodeLine(strLine))
            items.rgstrCode.push_back(strLine.substr(1, strLine.find(' ') - 1));
    }
    return items;
}

TEST(Docs, ManualPagesRenderWithoutWarningsAndShowTheVersion)
{
    for (const char* szPage : {"quenfell.1", "quenfell-plot.1"}) {
        SCOPED_TRACE(szPage);
        std::string path = std::string(QF_MAN_DIR) + "/" + szPage;
        std::ifstream f(path);
        std::string strTh;
        while (std::getline(f, strTh) && strTh.rfind(".TH ", 0) != 0) {
        }
        EXPECT_NE(strTh.find(" \"Quenfell " QF_VERSION "\" "), std::string::npos) << strTh;

        if (FExecutable("/usr/bin/man")) {
            RunResult res =
                RunProgram({"/bin/sh", "-c", "MANWIDTH=80 man --warnings -l \"$0\" 2>&1 >/dev/null", path});
            EXPECT_EQ(res.out, "");
            EXPECT_EQ(res.status, 0);
        } else if (FExecutable("/usr/bin/groff")) {
            RunResult res = RunProgram({"/usr/bin/groff", "-man", "-ww", "-z", path});
            EXPECT_EQ(res.err, "");
            EXPECT_EQ(res.status, 0);
        } else {
            GTEST_SKIP() << "neither man nor groff is installed: manual page check skipped";
        }
    }
}

TEST(Docs, PlotManualPageSynopsisIsTheUsageLine)
{
    if (!FExecutable("/usr/bin/man"))
        GTEST_SKIP() << "no man: rendered synopsis not checked";
    RunResult resUsage = RunProgram({QF_PLOT_BINARY, "-h"});
    ASSERT_EQ(resUsage.status, 0);
    ASSERT_EQ(resUsage.out.rfind("usage: ", 0), 0u) << resUsage.out;
    RunResult res = RunProgram(
        {"/bin/sh", "-c", "MANWIDTH=200 man -l \"$0\" 2>/dev/null", std::string(QF_MAN_DIR) + "/quenfell-plot.1"});
    EXPECT_NE(res.out.find("SYNOPSIS\n       " + resUsage.out.substr(7)), std::string::npos) << res.out;
}

TEST(Docs, ManualPageCoversTheHelpScreen)
{
    std::ifstream f(s_pathMan);
    std::stringstream ss;
    ss << f.rdbuf();
    std::string strMan = ss.str();
    ASSERT_FALSE(strMan.empty());

    HELPITEMS items = HelpItems();
    EXPECT_EQ(items.rgstrOption.size(), 16u);
    for (auto const& str : items.rgstrOption) {
        bool fFound = false;
        for (const char* szMacro : {"\n.B \\-", "\n.BI \\-", "\n.BR \\-"})
            for (const char* szAfter : {"\n", " ", "\""})
                fFound = fFound || strMan.find(szMacro + str + szAfter) != std::string::npos;
        EXPECT_TRUE(fFound) << "-" << str;
    }
    EXPECT_NE(strMan.find(".BR \\-z \" [\\fIzone\\fR]\""), std::string::npos);

    EXPECT_EQ(items.rgstrCode.size(), 14u);
    for (auto const& str : items.rgstrCode)
        EXPECT_NE(strMan.find(".BR " + str + " "), std::string::npos) << str;

    // The examples, as the rendered page shows them (wide enough not to wrap).
    if (!FExecutable("/usr/bin/man"))
        GTEST_SKIP() << "no man: rendered examples not checked";
    RunResult res = RunProgram({"/bin/sh", "-c", "MANWIDTH=200 man -l \"$0\" 2>/dev/null", s_pathMan});
    EXPECT_EQ(items.rgstrExample.size(), 7u);
    for (auto const& str : items.rgstrExample)
        EXPECT_NE(res.out.find("quenfell" + str + "\n"), std::string::npos) << str;
}

// The completion's answer for the words of a command line (the last word is the one completed),
// sorted.
std::vector<std::string> Complete(const std::vector<std::string>& rgstrWord, const std::string& dir)
{
    std::vector<std::string> argv{"/bin/bash", "-c",
                                  "source \"$0\" && COMP_WORDS=(\"$@\") && COMP_CWORD=$(($# - 1)); f=_${1//-/_}; $f; "
                                  "for s in \"${COMPREPLY[@]}\"; do printf '%s\\n' \"$s\"; done",
                                  s_pathCompletion};
    argv.insert(argv.end(), rgstrWord.begin(), rgstrWord.end());
    RunResult res = RunProgram(argv, "UTC", dir);
    EXPECT_EQ(res.status, 0) << res.err;
    std::vector<std::string> rgstr;
    std::istringstream iss(res.out);
    for (std::string strLine; std::getline(iss, strLine);)
        rgstr.push_back(strLine);
    std::sort(rgstr.begin(), rgstr.end());
    return rgstr;
}

TEST(Docs, BashCompletion)
{
    if (!FExecutable("/bin/bash"))
        GTEST_SKIP() << "no bash";
    std::string dir = TempDir();
    for (const char* sz : {"a.tar", "B.TAR", "x.tar.gz", ".tar", "notes.txt", "vms_log", "sub/vms_log", "sub/c.Tar"}) {
        mkdir((dir + "/sub").c_str(), 0700);
        WriteText(dir + "/" + sz, "");
    }
    using V = std::vector<std::string>;
    struct {
        V rgstrWord;
        V rgstrExpect;
    } const rgcase[] = {
        {{"quenfell", "-"}, {"-a", "-b", "-c", "-d", "-e", "-h", "-j", "-k", "-m", "-n", "-p", "-r", "-s", "-t", "-u",
                             "-v", "-z"}},
        {{"quenfell", "-r", ""}, {"C1MA", "C1MB", "C30M", "D10M", "DAY", "DR1M", "DR1S", "ERR", "IDLE", "TPMS",
                                  "VINF", "XX03", "XX04", "XX05"}},
        {{"quenfell", "-r", "d"}, {"D10M", "DAY", "DR1M", "DR1S"}},
        {{"quenfell", "-s", ""}, {}},
        {{"quenfell", "-se", "06/01/2009", ""}, V{"B.TAR", "a.tar", "sub", "vms_log"}},
        {{"quenfell", "-k", "0"}, {}},
        {{"quenfell", ""}, {"B.TAR", "a.tar", "sub", "vms_log"}},
        {{"quenfell", "-b", "sub/"}, {"sub/c.Tar", "sub/vms_log"}},
        {{"quenfell", "-n", ""}, {".tar", "B.TAR", "a.tar", "notes.txt", "sub", "vms_log", "x.tar.gz"}},
        {{"quenfell", "-dj", "no"}, {"notes.txt"}},
        {{"quenfell-plot", "-"}, {"--help", "--price", "-h", "-m", "-o", "-z"}},
        {{"quenfell-plot", ""}, {"B.TAR", "a.tar", "notes.txt", "sub", "vms_log"}},
        {{"quenfell-plot", "-m", "sub/"}, {"sub/c.Tar", "sub/vms_log"}},
        {{"quenfell-plot", "-o", ""}, {".tar", "B.TAR", "a.tar", "notes.txt", "sub", "vms_log", "x.tar.gz"}},
    };
    for (auto const& tc : rgcase) {
        std::string strWords;
        for (auto const& s : tc.rgstrWord)
            strWords += "[" + s + "]";
        EXPECT_EQ(Complete(tc.rgstrWord, dir), tc.rgstrExpect) << strWords;
    }

    struct stat st;
    if (stat("/usr/share/zoneinfo/Europe/London", &st) == 0) {
        EXPECT_EQ(Complete({"quenfell", "-z", "Europe/Lond"}, dir), V{"Europe/London "});
        EXPECT_EQ(Complete({"quenfell", "-z", "Euro"}, dir), V{"Europe/"});
        EXPECT_EQ(Complete({"quenfell-plot", "-z", "Europe/Lond"}, dir), V{"Europe/London "});
    }
}

}  // namespace
