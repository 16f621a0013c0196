// The listing's pipe: records taken in blocks and formatted on several threads come out as the
// listing formatter prints them one by one, in order, and nothing past a record's bytes (and its
// header) is read, even where the record ends right before memory that cannot be read.
#include "report/listpipe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "records/listing.h"
#include "records/scanner.h"
#include "support/output.h"
#include "testsupport/logbuilder.h"

namespace {

std::string Captured(void (*pfn)(void*), void* pv)
{
    fflush(stdout);
    testing::internal::CaptureStdout();
    pfn(pv);
    fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

TEST(ListPipe, BlocksOnSeveralThreadsPrintWhatOneThreadPrints)
{
    constexpr uint32_t t0 = 1262304000;   // 01/01/2010 00:00:00 UTC
    long const cbPage = sysconf(_SC_PAGESIZE);
    // Two pages, the second unreadable: each record is laid at the end of the first.
    unsigned char* pbPages =
        (unsigned char*)mmap(nullptr, (size_t)(2 * cbPage), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pbPages, MAP_FAILED);
    ASSERT_EQ(mprotect(pbPages + cbPage, (size_t)cbPage, PROT_NONE), 0);

    struct CASE {
        const char* szName;
        int grfDisplay;
        int crec;
    };
    const CASE rgcase[] = {
        {"column layout, a few records", 0, 5},
        {"tab layout in metric units, several blocks", fdispTab | fdispMetric, 9000},
        {"raw and header bytes with offsets, several blocks", fdispOffset | fdispRawBytes | fdispHeaderBytes, 5000},
    };
    // An error record's code stays in the values the walk decodes into, and later lines show it;
    // a one-minute drive record decodes by the vehicle of the last VINF record (none before the
    // first): the blocks' formatters, which decode their records again, must do both as the walk.
    const Rec rgrecKinds[] = {IdleRec(t0, 40),
                              Dr1sRec(t0, 33.5, 120.0),
                              D10mRec(t0, 61, 1234.5),
                              D10mRec(t0, 62),
                              C1mbRec(t0, 240.0, 32.0),
                              Rec(rtDR1M, 40).U8(17, 90).U8(18, 60).U8(34, 70),
                              VinfRec(t0, false),
                              Rec(rtERR, 20).U16(14, 0x1234)};
    for (CASE const& c : rgcase) {
        struct RUNS {
            CASE const* pcase;
            Rec const* rgrec;
            int crecKinds;
            unsigned char* pbPageEnd;
            int cworker;
        };
        RUNS runs{&c, rgrecKinds, (int)(sizeof rgrecKinds / sizeof rgrecKinds[0]), pbPages + cbPage, 1};
        auto listAll = [](void* pv) {
            RUNS* pruns = (RUNS*)pv;
            SCANSTATE scan;
            InitScanState(&scan);
            VLR vlr;
            ClearVlr(&vlr, sectTransient);
            LISTPIPE* ppipe = PlistpipeOpen(pruns->cworker);
            for (int irec = 0; irec < pruns->pcase->crec; irec++) {
                Rec rec = pruns->rgrec[irec % pruns->crecKinds];
                Bytes bytes = Concat({rec});
                // A new time for each record: its checksum follows.
                uint32_t timestamp = t0 + (uint32_t)irec;
                memcpy(bytes.data() + 6, &timestamp, 4);
                int sum = 0;
                for (size_t ib = 2; ib + 1 < bytes.size(); ib++)
                    sum += bytes[ib];
                bytes.back() = (uint8_t)(-sum & 0xFF);
                unsigned char* pb = pruns->pbPageEnd - bytes.size();
                memcpy(pb, bytes.data(), bytes.size());
                ScanRecord(&scan, pb, (int)bytes.size(), 0, &vlr);
                SHOWNRECORD shown{100L * irec, pb, (int)bytes.size(), timestamp, &vlr, pruns->pcase->grfDisplay, false,
                                  scan.vehicle.rver};
                if (ppipe)
                    PipeRecord(ppipe, &shown, shown.grfDisplay);
                else
                    PrintRecordLine(shown.pos, shown.pb, shown.cb, shown.pvlr, shown.grfDisplay);
            }
            CloseListPipe(ppipe);
        };
        std::string outOne = Captured(listAll, &runs);
        EXPECT_EQ(std::count(outOne.begin(), outOne.end(), '\n'), c.crec) << c.szName;
        for (int cworker : {2, 3}) {
            runs.cworker = cworker;
            EXPECT_TRUE(Captured(listAll, &runs) == outOne) << c.szName << ", " << cworker << " threads";
        }
    }
    munmap(pbPages, (size_t)(2 * cbPage));
}

}   // namespace
