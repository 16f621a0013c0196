// The report's text writers and section titles on standard output.
#include <gtest/gtest.h>

#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/output.h"

namespace {

std::string Captured(std::function<void()> const& pfn)
{
    testing::internal::CaptureStdout();
    pfn();
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}   // namespace

TEST(Output, TextWritersAndSectionTitle)
{
    std::string str = Captured([] {
        PrintSectionTitle("Transient Log Summary");
        OutSz("a\tb");
        OutCch("xyz", 2);
        OutChar('!');
    });
    EXPECT_EQ(str, "Transient Log Summary\n=====================\n\na\tbxy!");
    EXPECT_EQ(FFlushOutput(), 1);
}
