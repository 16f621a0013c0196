// The listing walk as the command line reaches it: option masks, toggles and dates typed by the
// user, through the built program.
#include <gtest/gtest.h>

#include <unistd.h>

#include "logfixture.h"
#include "testsupport/run.h"

namespace {

class ListingCommandLine : public testing::Test {
protected:
    void SetUp() override
    {
        if (access(QF_BINARY, X_OK) != 0)
            GTEST_SKIP() << "the program is not built: " << QF_BINARY;
        LogBuilder log;
        log.Add(VinfRec(T0, false))
            .Add(IdleRec(T0 + 10))
            .Add(C1mbRec(T0 + 20, 240, 32))
            .Add(Dr1sRec(T0 + 30, 20, 10))
            .Add(Rec(4, 11, 0xFFFFFFFF))
            .Add(C30mRec(T0 + 40, 0, 80, 40));
        path = TempDir() + "/vms_log";
        log.WriteFile(path);
    }
    std::vector<std::string> Listed(std::vector<std::string> args)
    {
        args.push_back(path);
        RunResult res = RunQuenfell(args);
        EXPECT_EQ(res.status, 0) << res.err;
        EXPECT_EQ(res.err, "");
        return ListedRecords(res.out);
    }
    std::string path;
};

std::string At(const char* code, uint32_t timestamp)
{
    return std::string(code) + "@" + std::to_string((int32_t)timestamp);
}

TEST_F(ListingCommandLine, MasksTogglesAndDates)
{
    EXPECT_EQ(Listed({"-c", "-r", "7"}), (std::vector<std::string>{At("C1MB", T0 + 20), At("C30M", T0 + 40)}));
    EXPECT_EQ(Listed({"-d"}), (std::vector<std::string>{At("IDLE", T0 + 10), At("DR1S", T0 + 30)}));
    EXPECT_EQ(Listed({"-a", "-r", "DR1S", "-r", "VINF"}),
              (std::vector<std::string>{At("IDLE", T0 + 10), At("C1MB", T0 + 20), At("XX04", ~0u),
                                        At("C30M", T0 + 40)}));
    EXPECT_EQ(Listed({"-a", "-s", "01/01/2010 00:00:20"}),
              (std::vector<std::string>{At("C1MB", T0 + 20), At("DR1S", T0 + 30), At("C30M", T0 + 40)}));
    EXPECT_EQ(Listed({"-r", "4", "-e", "01/01/2010 00:00:40"}), std::vector<std::string>{});
    EXPECT_EQ(Listed({"-r", "4"}), std::vector<std::string>{At("XX04", ~0u)});
}

TEST_F(ListingCommandLine, StatisticsTitleNamesThePartOnlyWithoutFilters)
{
    RunResult res = RunQuenfell({"-p", path});
    EXPECT_NE(res.out.find("\nLong-term Record Stats\n======================\n"), std::string::npos) << res.out;
    res = RunQuenfell({"-a", path});
    EXPECT_NE(res.out.find("\nRecord Stats\n============\n"), std::string::npos) << res.out;
    EXPECT_EQ(res.out.find("Transient Record Stats"), std::string::npos) << res.out;
}

}   // namespace
