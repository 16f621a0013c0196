// Fuzz target for the record scanner and decoder: the input is a log file (held in memory). Every record found is
// decoded and listed in both layouts (output discarded), and the fast scanner must agree with the
// byte-at-a-time one at every step.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

#include "input/stream.h"
#include "records/listing.h"
#include "records/scanner.h"
#include "support/timecal.h"

namespace {

char s_szPath[64];
int s_fd = -1;

bool FWriteInput(const uint8_t* data, size_t size)
{
    if (ftruncate(s_fd, 0) != 0)
        return false;
    size_t cbDone = 0;
    while (cbDone < size) {
        ssize_t cb = pwrite(s_fd, data + cbDone, size - cbDone, (off_t)cbDone);
        if (cb <= 0)
            return false;
        cbDone += (size_t)cb;
    }
    return true;
}

void Check(bool f, const char* szWhat)
{
    if (!f) {
        fprintf(stderr, "fuzz_records: %s\n", szWhat);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    if (!freopen("/dev/null", "w", stdout))
        abort();
    // A memory file: rewriting a disk file for every input would wait on its write-back.
    s_fd = memfd_create("fuzz_records", 0);
    if (s_fd < 0)
        abort();
    snprintf(s_szPath, sizeof s_szPath, "/proc/self/fd/%d", s_fd);
    FSetZones("UTC");
    return 0;
}

// The record at pos taken and listed as the listing walk lists it.
void ListRecordAt(SCANSTATE* pscan, STREAM* pstream, long pos, int cb, int grfDisplay, VLR* pvlr)
{
    unsigned char rgbBuf[cbRecordBuffer];
    unsigned long cbRec = (unsigned long)cb;
    unsigned char const* pb = PbRecordBytes(pstream, pos, &cbRec, rgbBuf);
    ScanRecord(pscan, pb, (int)cbRec, 0, pvlr);
    PrintRecordLine(pos, pb, (int)cbRec, pvlr, grfDisplay);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // No vehicle known and an empty tally, whatever the inputs before this one held.
    auto pscan = std::make_unique<SCANSTATE>();
    InitScanState(pscan.get());

    // The record decoder alone, on the input's own bytes: lengths up to the input's size only.
    if (size > 0) {
        int cb = (int)(size < (size_t)cbRecordMax ? size : (size_t)cbRecordMax);
        VLR vlrOwn;
        ClearVlr(&vlrOwn, sectNil);
        ScanRecord(pscan.get(), data, cb, 0, &vlrOwn);
        // A line reads a header even of a shorter record: as the walks hand them over, zero past it.
        unsigned char rgbLine[cbRecordBuffer] = {};
        memcpy(rgbLine, data, (size_t)cb);
        PrintRecordLine(0, rgbLine, cb, &vlrOwn, fdispRawBytes | fdispHeaderBytes);
        PrintRecordLine(0, rgbLine, cb, &vlrOwn, fdispTab | fdispMetric | fdispRawBytes);
        ScanRecord(pscan.get(), data, cb, 1, nullptr);
    }

    if (size == 0 || !FWriteInput(data, size))
        return 0;
    STREAM stream;
    if (!stream.FOpenFile(s_szPath))
        return 0;
    long cbFile = stream.CbSize();
    Check(cbFile == (long)size, "stream size");

    // A limit inside, at or past the end, taken from the input itself.
    long posLimit = cbFile;
    if (size > 1 && (data[0] & 0x80))
        posLimit = data[1] % (cbFile + 3);

    VLR vlr;
    ClearVlr(&vlr, sectTransient);
    long pos = 0;
    for (;;) {
        long posFast = pos, posSlow = pos;
        int cbFast = -1, cbSlow = -1;
        int fFast = FScanToRecord(&stream, &posFast, posLimit, &cbFast);
        int fSlow = FScanToRecordBytewise(&stream, &posSlow, posLimit, &cbSlow);
        Check(fFast == fSlow && posFast == posSlow && cbFast == cbSlow, "fast and byte-wise scanners differ");
        if (!fFast)
            break;
        Check(posFast >= pos && posFast + cbFast <= cbFile && cbFast >= 4 && cbFast <= cbRecordMax,
              "record outside the file");
        ListRecordAt(pscan.get(), &stream, posFast, cbFast, fdispOffset | fdispRawBytes | fdispHeaderBytes, &vlr);
        ListRecordAt(pscan.get(), &stream, posFast, cbFast,
                     fdispOffset | fdispRawBytes | fdispHeaderBytes | fdispTab | fdispMetric, &vlr);
        ScanRecordFromFile(pscan.get(), &stream, posFast, (unsigned long)cbFast, 0, &vlr);
        ScanRecordFromFile(pscan.get(), &stream, posFast, (unsigned long)cbFast, 1, nullptr);
        // Reading past the end of the file decodes zeros in place of the missing bytes.
        ListRecordAt(pscan.get(), &stream, cbFile - 3, cbFast, 0, &vlr);
        pos = posFast + cbFast;
    }
    fflush(stdout);
    return 0;
}
