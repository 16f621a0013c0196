// Pieces of the command line that can be checked without running the program: the -r value
// reader, what the report shows of a tar download's members and the fatal routine's message cut.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

#include "driver/options.h"
#include "driver/process.h"
#include "driver/fatal.h"
#include "report/report.h"

namespace {

TEST(RtFromSz, Table)
{
    struct {
        const char* text;
        unsigned long rt;
    } const rgcase[] = {
        {"7", 7},
        {"007", 7},
        {"31", 31},
        {"32", 32},
        {"257", 257},
        {"", 0},
        {"0", 0},
        {"0x7", 7},
        {"0X1f", 31},
        {"0x", 0},    // no hex digits: not a number, and no code
        {"0x7g", 0},
        {"idle", 7},
        {"IDLE", 7},
        {"IdLe", 7},
        {"vinf", 1},
        {"xx05", 5},
        {"err", 23},
        {"C1MB", 24},
        {"XYZ", 0},
        {"UNK_TYPE", 0},
        {"XX13", 0},
        {"7a", 0},
        {"-7", 0},
        {"+7", 0},
        {" 7", 0},
        {"IDLE ", 0},
        // Too large for 32 bits: must not come back as 7 after the top bits are dropped.
        {"4294967303", 4294967303ul},
        {"0x100000007", 0x100000007ul},
        // Too large for any unsigned long: saturates instead of wrapping.
        {"18446744073709551623", ULONG_MAX},
        {"4000000000000000000000000000000000000007", ULONG_MAX},
        {"0x10000000000000007", ULONG_MAX},
    };
    for (auto const& c : rgcase)
        EXPECT_EQ(RtFromSz(c.text), c.rt) << '"' << c.text << '"';
}

TARF Member(const char* name, int chType, unsigned long long cb, long long ibData)
{
    TARF tarf{};
    tarf.chType = chType;
    tarf.cb = cb;
    tarf.ibData = ibData;
    strcpy(tarf.szName, name);
    return tarf;
}

// What the report shows of a tar download's members: each ustar prefix as found, and with the
// verbose summary the member list (sizes of regular files only).
TEST(MemberHookOfReport, ListsMembersOnlyWhenAsked)
{
    TARF rgtarf[] = {
        Member("readme.txt", '0', 12, 512),
        Member("logs", '5', 0, 1536),
        Member("vms_log", '0', 4096, 2048),
        Member("123456789", '0', 123456789, 8704),
    };
    strcpy(rgtarf[1].szPrefix, "pre");
    for (int fList : {1, 0}) {
        REPORTER reporter{};
        reporter.fListMembers = fList;
        MEMBERHOOK hook = MemberHookOfReport(&reporter);
        testing::internal::CaptureStdout();
        hook.pfnOpened(hook.pv);
        for (TARF const& tarf : rgtarf)
            hook.pfnMember(hook.pv, tarf);
        fflush(stdout);
        std::string strListed = "\nTarball Contents\n================\n\n"
                                "    Size Name\n"
                                "-------- -----------------\n"
                                "      12 readme.txt \n"
                                "pre         logs \n"
                                "    4096 vms_log \n"
                                "123456789 123456789 \n";
        EXPECT_EQ(testing::internal::GetCapturedStdout(), fList ? strListed : "pre") << fList;
    }
}

TEST(GiveUsageAndExitDeathTest, MessageIsCutTo1023Characters)
{
    EXPECT_EXIT(GiveUsageAndExit("unknown switch: %c", 'V'), testing::ExitedWithCode(255),
                "^ERROR: unknown switch: V\n$");
    std::string sz(1500, 'q');
    EXPECT_EXIT(GiveUsageAndExit("<%s>", sz.c_str()), testing::ExitedWithCode(255),
                "^ERROR: <" + std::string(1022, 'q') + "\n$");
}

}   // namespace
