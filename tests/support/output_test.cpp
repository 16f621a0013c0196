// The fast number writers must give printf's bytes exactly: every report column depends on it.
// Each test writes many values through the writer and through snprintf and compares line by line.
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

// Splits both outputs at '\n' and reports the first line that differs, with its input.
void ExpectSameLines(std::string const& strActual, std::string const& strExpected,
                     std::vector<std::string> const& rgstrInput)
{
    size_t ichA = 0, ichE = 0;
    for (size_t i = 0; i < rgstrInput.size(); i++) {
        size_t ichAEnd = strActual.find('\n', ichA);
        size_t ichEEnd = strExpected.find('\n', ichE);
        ASSERT_NE(ichAEnd, std::string::npos) << "output ends before " << rgstrInput[i];
        ASSERT_EQ(strActual.substr(ichA, ichAEnd - ichA), strExpected.substr(ichE, ichEEnd - ichE))
            << rgstrInput[i];
        ichA = ichAEnd + 1;
        ichE = ichEEnd + 1;
    }
    EXPECT_EQ(ichA, strActual.size());
}

struct FIXED {
    double value;
    int prec;
};

void ExpectFixedLikePrintf(std::vector<FIXED> const& rgfixed)
{
    std::string strExpected;
    std::vector<std::string> rgstrInput;
    for (FIXED const& f : rgfixed) {
        char sz[512];
        snprintf(sz, sizeof sz, "%.*f\n", f.prec, f.value);
        strExpected += sz;
        snprintf(sz, sizeof sz, "%a at precision %d", f.value, f.prec);
        rgstrInput.push_back(sz);
    }
    std::string strActual = Captured([&] {
        for (FIXED const& f : rgfixed) {
            OutFixed(f.value, f.prec);
            OutChar('\n');
        }
    });
    ExpectSameLines(strActual, strExpected, rgstrInput);
}

TEST(OutFixed, MatchesPrintfOnChosenValues)
{
    double const rgvalue[] = {
        0.0, -0.0, 1.0, -1.0, 0.5, 1.5, 2.5, -2.5, 3.5, 0.125, 0.375, -0.125, 0.0625, 1.005,
        2.675, 0.045, 1e-10, -1e-10, -0.0001, -0.004, -0.005, -0.0049999, 0.049999999, 9.9999999995,
        99.95, 999999.5, 123456789.987654321, 4294967295.5, 9007199254740993.0, 1e15, 1e16, 1e17,
        1e21, 1e22, 1e23, 1e100, -1e100, 1e300, DBL_MAX, -DBL_MAX, DBL_MIN, DBL_TRUE_MIN,
        -DBL_TRUE_MIN, 3.2808399, 1.609, 1e-5, 5e-10, 4.5e-9, 0.1, 0.2, 0.3, 1.0 / 3.0, 2.0 / 3.0,
        INFINITY, -INFINITY, NAN, -NAN,
    };
    std::vector<FIXED> rgfixed;
    for (double value : rgvalue)
        for (int prec = 0; prec <= 9; prec++)
            rgfixed.push_back({value, prec});
    ExpectFixedLikePrintf(rgfixed);
}

// Halves of the last printed digit that are exact in binary round to even in printf.
TEST(OutFixed, MatchesPrintfOnExactHalves)
{
    std::vector<FIXED> rgfixed;
    for (int prec = 0; prec <= 6; prec++) {
        double scale = std::pow(2.0, -(prec + 1));
        for (int k = -300; k <= 300; k++)
            rgfixed.push_back({k * scale, prec});
    }
    for (int n = 0; n < 1000; n++) {
        rgfixed.push_back({n + 0.5, 0});
        rgfixed.push_back({-(n + 0.5), 0});
        rgfixed.push_back({n / 8.0, 2});
        rgfixed.push_back({n / 1000.0, 2});
        rgfixed.push_back({n / 100.0 + 0.005, 2});
    }
    ExpectFixedLikePrintf(rgfixed);
}

TEST(OutFixed, MatchesPrintfOnRandomValues)
{
    std::mt19937_64 rng(1330);
    std::vector<FIXED> rgfixed;
    // Values of the sizes reports print, then any bit pattern that is a number.
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int i = 0; i < 100000; i++) {
        int exp10 = (int)(rng() % 40) - 20;
        rgfixed.push_back({unit(rng) * std::pow(10.0, exp10), (int)(rng() % 10)});
    }
    for (int i = 0; i < 20000; i++) {
        double value;
        unsigned long long bits = rng();
        memcpy(&value, &bits, sizeof value);
        if (std::isnan(value))
            continue;
        rgfixed.push_back({value, (int)(rng() % 10)});
    }
    ExpectFixedLikePrintf(rgfixed);
}

TEST(OutInt, MatchesPrintf)
{
    std::vector<long> rglw = {0, 1, -1, 9, 10, -10, 99, 100, INT_MAX, INT_MIN, (long)INT_MAX + 1,
                              LONG_MAX, LONG_MIN, LONG_MIN + 1};
    std::mt19937_64 rng(7);
    for (int i = 0; i < 20000; i++)
        rglw.push_back((long)(rng() >> (rng() % 64)) * (i % 2 ? -1 : 1));

    std::string strExpected;
    std::vector<std::string> rgstrInput;
    for (long lw : rglw) {
        char sz[32];
        snprintf(sz, sizeof sz, "%ld\n", lw);
        strExpected += sz;
        rgstrInput.push_back(std::to_string(lw));
    }
    std::string strActual = Captured([&] {
        for (long lw : rglw) {
            OutInt(lw);
            OutChar('\n');
        }
    });
    ExpectSameLines(strActual, strExpected, rgstrInput);
}

TEST(OutUnsigned, MatchesPrintf)
{
    std::vector<unsigned long> rgul = {0, 1, 9, 10, UINT_MAX, (unsigned long)UINT_MAX + 1, ULONG_MAX};
    std::mt19937_64 rng(11);
    for (int i = 0; i < 20000; i++)
        rgul.push_back(rng() >> (rng() % 64));

    std::string strExpected;
    std::vector<std::string> rgstrInput;
    for (unsigned long ul : rgul) {
        char sz[32];
        snprintf(sz, sizeof sz, "%lu\n", ul);
        strExpected += sz;
        rgstrInput.push_back(std::to_string(ul));
    }
    std::string strActual = Captured([&] {
        for (unsigned long ul : rgul) {
            OutUnsigned(ul);
            OutChar('\n');
        }
    });
    ExpectSameLines(strActual, strExpected, rgstrInput);
}

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

}  // namespace
