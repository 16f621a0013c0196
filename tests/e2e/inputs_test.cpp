// Inputs as the command line hands them over: the "Analyze" line, plain files against tarballs,
// inputs that cannot be read, the tarball's member list, battery mode and the join's collection.
#include <gtest/gtest.h>

#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "testsupport/logbuilder.h"
#include "testsupport/run.h"

namespace {

const char* const szTz = "America/Los_Angeles";
constexpr uint32_t ts0102 = 1262390400;   // 01/02/2010 00:00:00 UTC

LogBuilder SmallLog(const std::string& vin = "SFZRE8B19A3000123")
{
    LogBuilder lb;
    lb.Add(VinfRec(ts0102, true, vin))
        .Add(DayRec(ts0102 + 60, 1234.5, 0x1000, 80))
        .Add(VinfRec(ts0102 + 120, false, vin))
        .Add(IdleRec(ts0102 + 3600, 80))
        .Add(IdleRec(ts0102 + 7200, 79));
    return lb;
}

bool FStartsWith(const std::string& s, const std::string& prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool FContains(const std::string& s, const std::string& part)
{
    return s.find(part) != std::string::npos;
}

// Sets the type flag of the tar header at ibHeader (the reader ignores the checksum).
void SetTarType(Bytes* ptar, size_t ibHeader, char chType)
{
    (*ptar)[ibHeader + 156] = (uint8_t)chType;
}

class Inputs : public testing::Test {
protected:
    void SetUp() override { dir = TempDir(); }
    std::string dir;
};

TEST_F(Inputs, AnalyzeLineGoesToStandardOutputOrWithBatteryToStandardError)
{
    std::string path = dir + "/vms_log";
    SmallLog().WriteFile(path);

    RunResult res = RunQuenfell({path}, szTz);
    EXPECT_TRUE(FStartsWith(res.out, "Analyze: " + path + "\n")) << res.out;
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.status, 0);

    res = RunQuenfell({"-b", path, path}, szTz);
    EXPECT_TRUE(FStartsWith(res.err, "Analyze: " + path + "\nAnalyze: " + path + "\n")) << res.err;
    EXPECT_FALSE(FContains(res.out, "Analyze:"));
    EXPECT_EQ(res.status, 0);
}

TEST_F(Inputs, InputsThatCannotBeRead)
{
    std::string pathMissing = dir + "/missing";
    std::string pathEmpty = dir + "/empty";
    std::string pathFifo = dir + "/fifo";
    std::string pathFifoTar = dir + "/fifo.tar";
    std::string pathDirTar = dir + "/folder.tar";
    std::string pathEmptyTar = dir + "/empty.tar";
    std::string pathNoLogTar = dir + "/nolog.tar";
    WriteText(pathEmpty, "");
    WriteText(pathEmptyTar, "");
    WriteBytes(pathNoLogTar, MakeTar({{"readme.txt", {'h', 'i', '\n'}}}));
    ASSERT_EQ(mkdir(pathDirTar.c_str(), 0700), 0);
    ASSERT_EQ(mkfifo(pathFifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(pathFifoTar.c_str(), 0600), 0);

    struct {
        std::string path;
        std::string err;
    } const rgcase[] = {
        {pathMissing, "ERROR: could not open file '" + pathMissing + "' No such file or directory.\n"},
        {dir, "ERROR: could not open file '" + dir + "' Is a directory.\n"},
        {pathEmpty, "ERROR: could not open file '" + pathEmpty + "' file is empty.\n"},
        {pathFifo, "ERROR: could not open file '" + pathFifo + "' No such device.\n"},
        {"/dev/null", "ERROR: could not open file '/dev/null' No such device.\n"},
        // A download that cannot be read at all says why before the line users know; one that was
        // read but holds no log gives that line alone.
        {pathFifoTar, "could not open file '" + pathFifoTar + "' No such device.\nERROR: could not find vms_log in '" +
                          pathFifoTar + "'\n"},
        {pathDirTar, "could not open file '" + pathDirTar + "' Is a directory.\nERROR: could not find vms_log in '" +
                         pathDirTar + "'\n"},
        {pathEmptyTar, "ERROR: could not find vms_log in '" + pathEmptyTar + "'\n"},
        {pathNoLogTar, "ERROR: could not find vms_log in '" + pathNoLogTar + "'\n"},
    };
    for (auto const& c : rgcase) {
        // Nothing may wait for a writer: timeout's 124 would show a hang.
        RunResult res = RunProgram({"/usr/bin/timeout", "20", QF_BINARY, c.path}, szTz);
        EXPECT_EQ(res.out, "Analyze: " + c.path + "\n");
        EXPECT_EQ(res.err, c.err);
        EXPECT_EQ(res.status, 255);
    }
}

TEST_F(Inputs, TarballIsKnownByItsLastFourCharacters)
{
    // None of these exist: the message tells which way each name was taken.
    struct {
        std::string name;
        std::string err;
    } const rgcase[] = {
        {"x.tar", "could not open file 'x.tar' No such file or directory.\nERROR: could not find vms_log in 'x.tar'\n"},
        {"LOG.TAR", "could not open file 'LOG.TAR' No such file or directory.\nERROR: could not find vms_log in 'LOG.TAR'\n"},
        {"a.TaR", "could not open file 'a.TaR' No such file or directory.\nERROR: could not find vms_log in 'a.TaR'\n"},
        {".tar", "ERROR: could not open file '.tar' No such file or directory.\n"},
        {"x.tar.gz", "ERROR: could not open file 'x.tar.gz' No such file or directory.\n"},
    };
    for (auto const& c : rgcase) {
        RunResult res = RunQuenfell({c.name}, szTz, dir);
        EXPECT_EQ(res.out, "Analyze: " + c.name + "\n");
        EXPECT_EQ(res.err, c.err);
        EXPECT_EQ(res.status, 255);
    }

    // A log named .tar is read as a plain file.
    SmallLog().WriteFile(dir + "/.tar");
    RunResult res = RunQuenfell({".tar"}, szTz, dir);
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.status, 0);
}

TEST_F(Inputs, TarballsWithoutAReadableLog)
{
    Bytes log = SmallLog().Data();
    struct {
        std::string name;
        Bytes bytes;
    } const rgcase[] = {
        {"readme.tar", MakeTar({{"readme.txt", {'h', 'i', '\n'}}})},
        {"empty-member.tar", MakeTar({{"vms_log", {}}})},
        {"wrong-case.tar", MakeTar({{"VMS_LOG", log}})},
        {"not-a-tar.tar", log},
    };
    for (auto const& c : rgcase) {
        std::string path = dir + "/" + c.name;
        WriteBytes(path, c.bytes);
        RunResult res = RunQuenfell({path}, szTz);
        EXPECT_EQ(res.out, "Analyze: " + path + "\n");
        EXPECT_EQ(res.err, "ERROR: could not find vms_log in '" + path + "'\n");
        EXPECT_EQ(res.status, 255);
    }
}

TEST_F(Inputs, VerboseListsTheTarballMembersOnlyForTheSummary)
{
    Bytes log = SmallLog().Data();
    Bytes tar = MakeTar({{"readme.txt", {'h', 'i', '\n'}}, {"logs", {}}, {"vms_log", log}});
    SetTarType(&tar, 1024, '5');
    std::string path = dir + "/200906051330.tar";
    WriteBytes(path, tar);

    RunResult res = RunQuenfell({"-v", path}, szTz);
    char szLogLine[32];
    snprintf(szLogLine, sizeof szLogLine, "%8zu vms_log \n", log.size());
    EXPECT_TRUE(FStartsWith(res.out, "Analyze: " + path +
                                         "\n\nTarball Contents\n================\n\n"
                                         "    Size Name\n"
                                         "-------- -----------------\n"
                                         "       3 readme.txt \n"
                                         "         logs \n" +
                                         szLogLine))
        << res.out;
    EXPECT_EQ(res.err, "");
    EXPECT_EQ(res.status, 0);

    for (auto const& args : std::vector<std::vector<std::string>>{
             {path}, {"-v", "-p", path}, {"-v", "-b", path}, {"-v", "-s", "1/1/2010", path}, {"-v", "-c", path}}) {
        res = RunQuenfell(args, szTz);
        EXPECT_FALSE(FContains(res.out, "Tarball Contents")) << args[args.size() - 2];
        EXPECT_EQ(res.status, 0);
    }
}

// Removes every "./" so that runs on ./name and name can be compared.
std::string WithoutDotSlash(std::string s)
{
    for (size_t ich; (ich = s.find("./")) != std::string::npos;)
        s.erase(ich, 2);
    return s;
}

TEST_F(Inputs, DownloadTimeInATarballNameLimitsCredibleRecords)
{
    // The log's records are from 01/02/2010: a download named for June 2009 cannot hold them, one
    // named for the end of January 2010 can. Without a directory the name is not read.
    Bytes tar = MakeTar({{"vms_log", SmallLog().Data()}});
    WriteBytes(dir + "/200906051330.tar", tar);
    WriteBytes(dir + "/201001311200.tar", tar);
    auto Out = [&](const std::string& name) {
        RunResult res = RunQuenfell({"-v", name}, szTz, dir);
        EXPECT_EQ(res.status, 0) << name;
        return WithoutDotSlash(res.out);
    };
    EXPECT_EQ(Out("./201001311200.tar"), Out("201001311200.tar"));
    std::string outJune = Out("./200906051330.tar");
    EXPECT_NE(outJune, Out("200906051330.tar"));
    EXPECT_TRUE(FStartsWith(outJune, "Analyze: 200906051330.tar\n"));
}

TEST_F(Inputs, TheLastVmsLogMemberIsDecoded)
{
    Bytes log1 = SmallLog("SFZRE8B19A3000001").Data();
    Bytes log2 = SmallLog("SFZRE8B19A3000002").Data();
    std::string path = dir + "/two.tar";
    WriteBytes(path, MakeTar({{"vms_log", log1}, {"vms_log", log2}}));
    RunResult res = RunQuenfell({path}, szTz);
    EXPECT_TRUE(FContains(res.out, "SFZRE8B19A3000002")) << res.out;
    EXPECT_FALSE(FContains(res.out, "SFZRE8B19A3000001"));
    EXPECT_EQ(res.status, 0);
}

TEST_F(Inputs, HelpAfterAnInputComesAfterTheInputIsDone)
{
    std::string path = dir + "/vms_log";
    SmallLog().WriteFile(path);
    RunResult resAlone = RunQuenfell({path}, szTz);
    RunResult res = RunQuenfell({path, "-h"}, szTz);
    EXPECT_EQ(res.out, resAlone.out);
    EXPECT_TRUE(FStartsWith(res.err, "\nQuenfell version " QF_VERSION "\nBuilt on "));
    EXPECT_EQ(res.status, 255);
}

TEST_F(Inputs, EquivalentSpellingsGiveTheSameReport)
{
    std::string path = dir + "/vms_log";
    SmallLog().WriteFile(path);
    std::vector<std::vector<std::string>> const rgrgargs[] = {
        {{"-r", "7", path}, {"-r", "idle", path}, {"-r", "0x7", path}, {"-r", "IDLE", "-r", "9", "-r", "0X9", path}},
        // -r toggles, so a type typed twice is no filter at all; -p -p likewise.
        {{path}, {"-r", "IDLE", "-r", "idle", path}, {"-p", "-p", path}},
        {{"-v", "-t", "-a", path}, {"-vta", path}, {"-at", "-v", path}},
        // -b clears earlier selections.
        {{"-b", path}, {"-c", "-r", "1", "-b", path}},
    };
    for (auto const& rgargs : rgrgargs) {
        RunResult resFirst = RunQuenfell(rgargs[0], szTz);
        EXPECT_EQ(resFirst.status, 0);
        for (auto const& args : rgargs) {
            RunResult res = RunQuenfell(args, szTz);
            EXPECT_EQ(res.out, resFirst.out) << args[0] << " " << args[1];
            EXPECT_EQ(res.err, resFirst.err) << args[0] << " " << args[1];
            EXPECT_EQ(res.status, 0);
        }
    }
}

TEST_F(Inputs, BatteryModePrintsNoSummaryListingOrNotes)
{
    std::string path = dir + "/vms_log";
    std::string pathNotes = dir + "/notes.txt";
    SmallLog().WriteFile(path);
    WriteText(pathNotes, "01/01/2010\tbefore the first record\n01/01/2010 17:00:00\tat an idle record\n");

    // The notes do show in a listing of the same log.
    RunResult res = RunQuenfell({"-n", pathNotes, "-a", path}, szTz);
    EXPECT_TRUE(FContains(res.out, "(NOTE)  at an idle record")) << res.out;

    RunResult resPlain = RunQuenfell({"-b", path}, szTz);
    for (auto const& args : std::vector<std::vector<std::string>>{
             {"-n", pathNotes, "-b", path}, {"-b", "-p", path}, {"-b", "-u", path}, {"-b", "-v", "-t", "-m", path}}) {
        res = RunQuenfell(args, szTz);
        EXPECT_EQ(res.out, resPlain.out) << args[1] << args[2];
        EXPECT_FALSE(FContains(res.out, "(NOTE)"));
        EXPECT_FALSE(FContains(res.out, "Transient Log Summary"));
        EXPECT_EQ(res.status, 0);
    }
}

TEST_F(Inputs, JoinWritesToTheLastNameAndOnlyWithInputs)
{
    std::string path = dir + "/vms_log";
    SmallLog().WriteFile(path);
    std::string pathFirst = dir + "/first.log", pathSecond = dir + "/second.log";

    RunResult res = RunQuenfell({"-j", pathFirst}, szTz);
    EXPECT_EQ(res.status, 0);
    EXPECT_NE(access(pathFirst.c_str(), F_OK), 0);

    res = RunQuenfell({"-j", pathFirst, path, "-j", pathSecond, path}, szTz);
    EXPECT_EQ(res.status, 0) << res.err;
    EXPECT_TRUE(FStartsWith(res.out, "Analyze: " + path + "\nAnalyze: " + path + "\n")) << res.out;
    EXPECT_TRUE(FContains(res.out, " records written to " + pathSecond + "\n")) << res.out;
    EXPECT_NE(access(pathFirst.c_str(), F_OK), 0);
    EXPECT_EQ(access(pathSecond.c_str(), F_OK), 0);
}

}   // namespace
