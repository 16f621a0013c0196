// The command line as a user meets it: the help screen, every option's message, bundled letters,
// the date echoes, -z, and a report that cannot be written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

const char* const szTz = "America/Los_Angeles";

// Everything of the help screen except the build date and time, worked out line by line.
const std::string s_szHelpHead = "\nQuenfell version " QF_VERSION "\n";
const std::string s_szHelpRest =
    "\n"
    "usage: Quenfell [-n annotation_file] [-s start_date] [-e end_date] [-r n] [-cdmptvhbu] [-k timestamp] "
    "[-j output_filename] [vms_file|tarball]\n"
    "\n"
    "\t-n    add notes to record list from specified notes file\n"
    "\t-s    only show records on or after the specified date and time\n"
    "\t-e    only show records on or before the specified date and time\n"
    "\t-r n  show records of type n\n"
    "\t-b    show histograms of battery-related data\n"
    "\t-k    if -b, skip records in permanent section until specified timestamp is found\n"
    "\t-a    show all records in the specified section\n"
    "\t-c    show charging records\n"
    "\t-d    show driving records\n"
    "\t-m    display in metric units\n"
    "\t-p    show records from the permanent section (defaults to the transient section)\n"
    "\t-t    tab delimited format\n"
    "\t-v    verbose output (includes the raw byte values)\n"
    "\t-j    join multiple vms_log files together into a new combined file\n"
    "\t-h    show this help screen\n"
    "\t-u    show detailed charge summary\n"
    "\n"
    "recognized record types:\n"
    "\n"
    "\tVINF  Vehicle Info: VIN, firmware version\n"
    "\tXX03  Input Events?\n"
    "\tXX04  Car Operating State?\n"
    "\tXX05  \n"
    "\tDAY   Daily Status (stored in permanent section)\n"
    "\tIDLE  Status every 60 minutes when idle\n"
    "\tC1MA  1-minute charge status, version 1.5 (2008) Roadsters\n"
    "\tC30M  30-minute charge status\n"
    "\tDR1S  1-second drive status\n"
    "\tDR1M  1-minute drive status\n"
    "\tD10M  10-minute drive status\n"
    "\tTPMS  Tire Pressure Monitor System\n"
    "\tERR   Error message (stored in permanent section)\n"
    "\tC1MB  1-minute charge status, version 2.x (2010+) Roadsters\n"
    "\n"
    "examples:\n"
    "\n"
    "\tQuenfell 200906051330.tar\n"
    "\t-------------------------\n"
    "\tFrom the file 200906051330.tar, show a summary of driving and charging sessions.\n"
    "\n"
    "\tQuenfell -v 200906051330.tar\n"
    "\t----------------------------\n"
    "\tFrom the file 200906051330.tar, show the table of contents, a summary of driving and charging,\n"
    "\tand a table of stats on the record types found in the log file.\n"
    "\n"
    "\tQuenfell -p 200906051330.tar\n"
    "\t----------------------------\n"
    "\tFrom the file 200906051330.tar, dump out the permanent section records.\n"
    "\n"
    "\tQuenfell -s \"12/30/2009\" -e \"12/31/2009\" -r IDLE 200906051330.tar\n"
    "\t-----------------------------------------------------------------\n"
    "\tFrom the tar file, show all IDLE records during the day of 12/30/2009.\n"
    "\n"
    "\tQuenfell -s \"12/30/2009 11:00:00\" -e \"12/30/2009 13:00:00\" -d -t 200906051330.tar\n"
    "\t---------------------------------------------------------------------------------\n"
    "\tFrom the tar file, show all drive-related records in the specified time interval\n"
    "\tin tab-delimited format for easy importing into a spreadsheet or database.\n"
    "\n"
    "\tQuenfell -b *.tar > output.txt\n"
    "\t------------------------------\n"
    "\tRun this in the folder that holds all of your downloaded log files, then send the\n"
    "\tresulting output.txt to the owners' battery study.\n"
    "\n"
    "\tQuenfell -n log_notes.txt -s \"01/01/2010\" 200906051330.tar\n"
    "\t----------------------------------------------------------\n"
    "\tFrom the tar file, show all records on or after Jan 1, 2010, with annotations from\n"
    "\tlog_notes.txt.\n"
    "\tsample annotation line: 01/02/2010 12:34:56<tab>accelerator to the floor\n"
    "\n";

// True for the compiler's build stamp as the help shows it: "Built on Jan 30 2021 at 17:32:43"
// (a day below 10 has a blank before it).
bool FBuildLine(const std::string& sz)
{
    const std::string szShape = "Built on Aaa 99 9999 at 99:99:99";
    if (sz.size() != szShape.size())
        return false;
    for (size_t ich = 0; ich < sz.size(); ich++) {
        char ch = sz[ich], chShape = szShape[ich];
        bool fOk = chShape == '9'   ? (isdigit((unsigned char)ch) || (ich == 13 && ch == ' '))
                   : chShape == 'A' ? isupper((unsigned char)ch)
                   : chShape == 'a' ? islower((unsigned char)ch)
                                    : ch == chShape;
        if (!fOk)
            return false;
    }
    return true;
}

// Checks a help screen: the fixed text around the build line.
void ExpectHelp(const std::string& err)
{
    ASSERT_EQ(err.substr(0, s_szHelpHead.size()), s_szHelpHead);
    size_t ichEnd = err.find('\n', s_szHelpHead.size());
    ASSERT_NE(ichEnd, std::string::npos);
    std::string szBuilt = err.substr(s_szHelpHead.size(), ichEnd - s_szHelpHead.size());
    EXPECT_TRUE(FBuildLine(szBuilt)) << szBuilt;
    EXPECT_EQ(err.substr(ichEnd + 1), s_szHelpRest);
}

TEST(CommandLine, HelpScreen)
{
    for (auto const& args : std::vector<std::vector<std::string>>{{}, {"-h"}, {"-?"}, {"-vh"}, {"-t", "-h", "-s"}}) {
        RunResult res = RunQuenfell(args, szTz);
        EXPECT_EQ(res.status, 255);
        EXPECT_EQ(res.out, "");
        ExpectHelp(res.err);
    }
}

// The README's option table names exactly the options of the help screen, and -z.
TEST(CommandLine, ReadmeOptionTableMatchesTheHelpScreen)
{
    std::string help = RunQuenfell({"-h"}, szTz).err;
    std::string lettersHelp = "z";
    // Option lines are "\t-x ..."; the examples' underlines are "\t----".
    for (size_t ich = help.find("\n\t-"); ich != std::string::npos; ich = help.find("\n\t-", ich + 1)) {
        if (isalpha((unsigned char)help[ich + 3]))
            lettersHelp += help[ich + 3];
    }
    std::string readme = ReadText(std::string(QF_SOURCE_DIR) + "/README.md");
    size_t ichTable = readme.find("| Option | Effect |");
    ASSERT_NE(ichTable, std::string::npos);
    std::string lettersReadme;
    for (size_t ich = readme.find("\n| `-", ichTable); ich != std::string::npos && readme.compare(ich, 5, "\n| `-") == 0;
         ich = readme.find('\n', ich + 1))
        lettersReadme += readme[ich + 5];
    std::sort(lettersHelp.begin(), lettersHelp.end());
    std::sort(lettersReadme.begin(), lettersReadme.end());
    EXPECT_EQ(lettersReadme, lettersHelp);
}

struct CASE {
    std::vector<std::string> args;
    std::string out;
    std::string err;
    int status;
};

void ExpectRuns(const std::vector<CASE>& rgcase)
{
    for (CASE const& c : rgcase) {
        std::string szArgs;
        for (auto const& arg : c.args)
            szArgs += " [" + arg + "]";
        RunResult res = RunQuenfell(c.args, szTz);
        EXPECT_EQ(res.out, c.out) << szArgs;
        EXPECT_EQ(res.err, c.err) << szArgs;
        EXPECT_EQ(res.status, c.status) << szArgs;
    }
}

TEST(CommandLine, OptionMessages)
{
    const std::string szRange =
        "ERROR: the -r option requires the next argument to be a record type code or an integer between 1 and 31\n";
    ExpectRuns({
        {{"-s"}, "", "ERROR: the -s option requires the next argument to be a date string\n", 255},
        {{"-e"}, "", "ERROR: the -e option requires the next argument to be a date string\n", 255},
        {{"-s", "bogus"}, "", "ERROR: 'bogus' is an invalid date/time string following the -s option\n", 255},
        {{"-e", "12/30/2009 11:00"}, "",
         "ERROR: '12/30/2009 11:00' is an invalid date/time string following the -e option\n", 255},
        {{"-k"}, "", "ERROR: the -k option requires the next argument to be a a date string\n", 255},
        {{"-k", "bogus"}, "", "ERROR: the -k option requires the next argument to be a a date string\n", 255},
        {{"-j"}, "", "ERROR: the -j option requires the next argument to be and output file name\n", 255},
        {{"-n"}, "", "ERROR: the -n option requires the next argument to be a file name\n", 255},
        {{"-r"}, "", "ERROR: the -r option requires the next argument to be an integer\n", 255},
        {{"-r", "0"}, "", szRange, 255},
        {{"-r", "32"}, "", szRange, 255},
        {{"-r", "257"}, "", szRange, 255},
        {{"-r", "XYZ"}, "", szRange, 255},
        {{"-r", ""}, "", szRange, 255},
        {{"-r", "4000000000000000000000000000000000000007"}, "", szRange, 255},
        {{"-r", "0x100000007"}, "", szRange, 255},
        {{"--"}, "", "ERROR: unknown switch: -\n", 255},
        {{"-V"}, "", "ERROR: unknown switch: V\n", 255},
        {{"-vX", "-h"}, "", "ERROR: unknown switch: X\n", 255},
        // A value is the next argument whatever it looks like.
        {{"-s", "-v"}, "", "ERROR: '-v' is an invalid date/time string following the -s option\n", 255},
    });
}

TEST(CommandLine, OptionsWithoutInputEndWithStatus0)
{
    ExpectRuns({
        {{"-"}, "", "", 0},
        {{"-v", "-t", "-m", "-p", "-u", "-a", "-c", "-d", "-r", "idle", "-r", "7", "-r", "0x7"}, "", "", 0},
        {{"-j", "/nonexistent-dir/out"}, "", "", 0},
        // Start after end is only an error when an input comes.
        {{"-s", "12/31/2009", "-e", "12/30/2009"},
         "show records at or after 12/31/2009 00:00:00\nshow records on or before 12/30/2009 00:00:00\n", "", 0},
    });
}

TEST(CommandLine, DateEchoesAndBundles)
{
    ExpectRuns({
        {{"-s", "12/30/2009 11:00:00"}, "show records at or after 12/30/2009 11:00:00\n", "", 0},
        {{"-e", "12/31/2009"}, "show records on or before 12/31/2009 00:00:00\n", "", 0},
        {{"-k", "1/2/2010 3:04:05"},
         "skip permanent records until a timestamp matching 01/02/2010 03:04:05 is found\n", "", 0},
        // Bundled value letters take the following arguments in order.
        {{"-se", "12/30/2009", "12/31/2009 13:00:00"},
         "show records at or after 12/30/2009 00:00:00\nshow records on or before 12/31/2009 13:00:00\n", "", 0},
        {{"-vse", "12/30/2009", "12/31/2009", "-t"},
         "show records at or after 12/30/2009 00:00:00\nshow records on or before 12/31/2009 00:00:00\n", "", 0},
        {{"-se", "12/30/2009"}, "show records at or after 12/30/2009 00:00:00\n",
         "ERROR: the -e option requires the next argument to be a date string\n", 255},
        {{"-es", "12/31/2009", "12/30/2009", "missing.log"},
         "show records on or before 12/31/2009 00:00:00\nshow records at or after 12/30/2009 00:00:00\n"
         "Analyze: missing.log\n",
         "ERROR: could not open file 'missing.log' No such file or directory.\n", 255},
        {{"-se", "12/31/2009", "12/30/2009", "missing.log"},
         "show records at or after 12/31/2009 00:00:00\nshow records on or before 12/30/2009 00:00:00\n",
         "ERROR: start time is after end time\n", 255},
    });
}

TEST(CommandLine, TimeZoneOption)
{
    // Dates are typed in the system zone (Los Angeles, UTC-8 in December) and echoed in the
    // display zone.
    ExpectRuns({
        {{"-s", "12/30/2009 11:00:00", "-z", "UTC", "-e", "12/30/2009 11:00:00"},
         "show records at or after 12/30/2009 11:00:00\nUsing time zone UTC (GMT+0).\n"
         "show records on or before 12/30/2009 19:00:00\n",
         "", 0},
    });
    // No name, an unknown name, or an option after -z: the zone list ends the run with 0 and
    // nothing after it is looked at.
    const std::string szListHead = "Code Delta Name\n---- ----- --------------\n";
    for (auto const& args : std::vector<std::vector<std::string>>{
             {"-z"}, {"-z", "Nowhere/Atlantis", "-s", "bogus"}, {"-z", "-v"}, {"-vz", "-h"}}) {
        RunResult res = RunQuenfell(args, szTz);
        EXPECT_EQ(res.out.substr(0, szListHead.size()), szListHead) << args.back();
        EXPECT_GT(res.out.size(), szListHead.size()) << args.back();
        EXPECT_EQ(res.err, "") << args.back();
        EXPECT_EQ(res.status, 0) << args.back();
    }
}

TEST(CommandLine, LongValuesAreCutNotOverflowed)
{
    std::string szValue(3000, 'x');
    RunResult res = RunQuenfell({"-s", szValue}, szTz);
    EXPECT_EQ(res.err, "ERROR: '" + std::string(1022, 'x') + "\n");
    EXPECT_EQ(res.status, 255);
}

// Runs quenfell with standard output on /dev/full, where every write fails.
RunResult RunToFullDisk(const std::vector<std::string>& args)
{
    std::vector<std::string> argv{"/bin/sh", "-c", "exec \"$0\" \"$@\" >/dev/full", QF_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunProgram(argv, szTz);
}

TEST(CommandLine, WriteErrorOnStandardOutputFails)
{
    for (auto const& args : std::vector<std::vector<std::string>>{{"-s", "12/30/2009"}, {"-z"}}) {
        RunResult res = RunToFullDisk(args);
        // The reason comes first; the line users know stays as it was.
        EXPECT_EQ(res.err, "could not write standard output: No space left on device.\n"
                           "ERROR: write error on standard output\n")
            << args[0];
        EXPECT_EQ(res.status, 255) << args[0];
    }
    // Nothing written, nothing lost.
    RunResult res = RunToFullDisk({"-v"});
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.status, 0);
}

}   // namespace
