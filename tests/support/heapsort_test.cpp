// HeapSort: ordering, the calls it makes, and the exact placement of equal keys; the index heap of
// merges: what it pops, whatever the order of pushes and pops.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <utility>
#include <vector>

#include "support/heapsort.h"

namespace {

struct ITEM {
    int key;
    char id;
};

// Records every callback so a test can check what the sort touched.
struct TRACE {
    std::vector<ITEM> rgitem;
    int ccmp = 0;
    std::vector<std::pair<unsigned, unsigned>> rgswap;
    bool fNeverZero = false;
    unsigned iMaxSeen = 0;
};

int CmpTrace(unsigned i, unsigned j, void* ctx)
{
    TRACE* ptrace = (TRACE*)ctx;
    ptrace->ccmp++;
    ptrace->iMaxSeen = std::max({ptrace->iMaxSeen, i, j});
    int a = ptrace->rgitem[i].key, b = ptrace->rgitem[j].key;
    if (a < b)
        return -1;
    if (ptrace->fNeverZero)
        return 1;
    return a > b ? 1 : 0;
}

void SwapTrace(unsigned i, unsigned j, void* ctx)
{
    TRACE* ptrace = (TRACE*)ctx;
    ptrace->rgswap.push_back({i, j});
    std::swap(ptrace->rgitem[i], ptrace->rgitem[j]);
}

TRACE SortTrace(std::vector<ITEM> rgitem, bool fNeverZero = false)
{
    TRACE trace;
    trace.rgitem = std::move(rgitem);
    trace.fNeverZero = fNeverZero;
    HeapSortCore(&trace, (unsigned)trace.rgitem.size(), CmpTrace, SwapTrace);
    return trace;
}

std::string Ids(TRACE const& trace)
{
    std::string s;
    for (ITEM const& item : trace.rgitem)
        s += item.id;
    return s;
}

std::vector<ITEM> FromKeys(std::vector<int> const& rgkey)
{
    std::vector<ITEM> rgitem;
    for (size_t i = 0; i < rgkey.size(); i++)
        rgitem.push_back({rgkey[i], (char)('a' + i)});
    return rgitem;
}

bool FAscending(TRACE const& trace)
{
    for (size_t i = 1; i < trace.rgitem.size(); i++)
        if (trace.rgitem[i - 1].key > trace.rgitem[i].key)
            return false;
    return true;
}

TEST(HeapSort, EmptyArrayMakesNoCalls)
{
    TRACE trace = SortTrace({});
    EXPECT_EQ(trace.ccmp, 0);
    EXPECT_TRUE(trace.rgswap.empty());
}

TEST(HeapSort, OrdersAnyInputAndNeverComparesPastTheEnd)
{
    struct {
        const char* szName;
        std::vector<int> rgkey;
    } const rgcase[] = {
        {"sorted", {1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"reverse", {9, 8, 7, 6, 5, 4, 3, 2, 1}},
        {"mixed", {5, 1, 9, 3, 3, 8, 0, 2, 7, 6}},
        {"duplicates", {2, 1, 2, 1, 2, 1, 2}},
        {"negative", {-3, 10, -100, 0, 4}},
        {"one", {7}},
        {"two", {2, 1}},
    };
    for (auto const& tc : rgcase) {
        for (bool fNeverZero : {false, true}) {
            TRACE trace = SortTrace(FromKeys(tc.rgkey), fNeverZero);
            EXPECT_TRUE(FAscending(trace)) << tc.szName << " neverZero=" << fNeverZero;
            EXPECT_LT(trace.iMaxSeen, tc.rgkey.size()) << tc.szName;
        }
    }
}

TEST(HeapSort, AllEqualMakesNoExchangeWhileBuilding)
{
    TRACE trace = SortTrace(FromKeys({4, 4, 4, 4, 4, 4}));
    // The extraction phase exchanges n and 0 for n = 5 down to 1 and nothing else: every sift
    // stops at once, so the build phase exchanged nothing.
    std::vector<std::pair<unsigned, unsigned>> rgswapExpected = {{5, 0}, {4, 0}, {3, 0}, {2, 0}, {1, 0}};
    EXPECT_EQ(trace.rgswap, rgswapExpected);
    EXPECT_EQ(Ids(trace), "bcdefa");
}

// Worked by hand on keys a=1 b=0 c=1 d=0: the heap is already built (no exchange), then
// extraction gives d b c a -> c b d a -> d b c a -> b d c a.
TEST(HeapSort, EqualKeysEndInTheOrderTheHeapLeavesThem)
{
    for (bool fNeverZero : {false, true}) {
        TRACE trace = SortTrace(FromKeys({1, 0, 1, 0}), fNeverZero);
        EXPECT_EQ(Ids(trace), "bdca") << "neverZero=" << fNeverZero;
        std::vector<std::pair<unsigned, unsigned>> rgswapExpected = {{3, 0}, {0, 2}, {2, 0}, {1, 0}};
        EXPECT_EQ(trace.rgswap, rgswapExpected);
    }
}

struct REC3 {
    unsigned char rgb[3];
};

int CmpRec3(unsigned i, unsigned j, void* ctx)
{
    REC3 const* rg = (REC3 const*)ctx;
    return memcmp(rg[i].rgb, rg[j].rgb, 3) < 0 ? -1 : 1;
}

TEST(HeapSort, SortsOddSizedRecordsInPlace)
{
    REC3 rg[] = {{{3, 0, 9}}, {{1, 2, 3}}, {{3, 0, 1}}, {{0, 0, 0}}, {{1, 2, 2}}};
    HeapSort(rg, 5, (int)sizeof(REC3), CmpRec3);
    REC3 const rgExpected[] = {{{0, 0, 0}}, {{1, 2, 2}}, {{1, 2, 3}}, {{3, 0, 1}}, {{3, 0, 9}}};
    EXPECT_EQ(memcmp(rg, rgExpected, sizeof rg), 0);
}

// Keys by index; equal keys are told apart by index, as the heap needs a strict order.
int CmpKeyThenIndex(unsigned i, unsigned j, void* ctx)
{
    std::vector<int> const& rgkey = *(std::vector<int> const*)ctx;
    if (rgkey[i] != rgkey[j])
        return rgkey[i] < rgkey[j] ? -1 : 1;
    return i < j ? -1 : (i > j ? 1 : 0);
}

TEST(IndexHeap, PopsInOrderWhateverThePushOrder)
{
    std::mt19937 rng(11);
    for (int n : {1, 2, 3, 7, 8, 64, 257}) {
        std::vector<int> rgkey((size_t)n);
        for (int& key : rgkey)
            key = (int)(rng() % 10) - 5;   // many equal keys
        std::vector<unsigned> rgiPush((size_t)n);
        for (unsigned i = 0; i < (unsigned)n; i++)
            rgiPush[i] = i;
        std::shuffle(rgiPush.begin(), rgiPush.end(), rng);

        std::vector<unsigned> rgiHeap((size_t)n, 0xDEADu);
        HEAP heap = {rgiHeap.data(), 0, CmpKeyThenIndex, &rgkey};
        for (unsigned i : rgiPush)
            HeapPush(&heap, i);
        ASSERT_EQ(heap.c, (unsigned)n);
        std::vector<unsigned> rgiPopped;
        while (heap.c > 0)
            rgiPopped.push_back(HeapPop(&heap));

        std::vector<unsigned> rgiExpected = rgiPush;
        std::sort(rgiExpected.begin(), rgiExpected.end(),
                  [&](unsigned i, unsigned j) { return CmpKeyThenIndex(i, j, &rgkey) < 0; });
        EXPECT_EQ(rgiPopped, rgiExpected) << "n=" << n;
    }
}

// The merge's pattern: pop the smallest, push some back or new ones; the top is always the least
// of what is in the heap.
TEST(IndexHeap, InterleavedPushesAndPopsKeepTheLeastOnTop)
{
    std::mt19937 rng(3);
    constexpr unsigned ciMax = 200;
    std::vector<int> rgkey(ciMax);
    for (int& key : rgkey)
        key = (int)(rng() % 50);
    std::vector<unsigned> rgiHeap(ciMax);
    HEAP heap = {rgiHeap.data(), 0, CmpKeyThenIndex, &rgkey};
    auto cmpLess = [&](unsigned i, unsigned j) { return CmpKeyThenIndex(i, j, &rgkey) < 0; };
    std::set<unsigned, decltype(cmpLess)> setIn(cmpLess);
    std::vector<unsigned> rgiOut;
    for (unsigned i = 0; i < ciMax; i++)
        rgiOut.push_back(i);
    for (int step = 0; step < 5000; step++) {
        bool fPush = !rgiOut.empty() && (setIn.empty() || rng() % 3 != 0);
        if (fPush) {
            size_t k = rng() % rgiOut.size();
            unsigned i = rgiOut[k];
            rgiOut.erase(rgiOut.begin() + (long)k);
            HeapPush(&heap, i);
            setIn.insert(i);
        } else {
            unsigned i = HeapPop(&heap);
            ASSERT_EQ(i, *setIn.begin()) << "step " << step;
            setIn.erase(setIn.begin());
            rgiOut.push_back(i);
        }
        ASSERT_EQ(heap.c, (unsigned)setIn.size());
    }
}

}   // namespace
