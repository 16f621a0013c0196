// Fuzz target for calendar text and time zones: the input as a typed date, and timestamps taken
// from its bytes formatted as text and as daylight-saving notes, in UTC and in a zone with DST.
// Text written for a timestamp must read back as the same instant.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/timecal.h"

namespace {

constexpr unsigned int timestampLastShown = 0x7FFFFFFFu;
constexpr int cchDate = 20;

unsigned int TimestampFromBytes(const uint8_t* pb)
{
    return (unsigned int)pb[0] | (unsigned int)pb[1] << 8 | (unsigned int)pb[2] << 16 | (unsigned int)pb[3] << 24;
}

void CheckDate(unsigned int timestamp, bool fExact)
{
    char szDate[cchDate];
    DateFromTimestamp(timestamp, szDate, sizeof szDate);
    if (strlen(szDate) != cchDate - 1)
        abort();
    if (timestamp < timestampEpoch2001 || timestamp > timestampLastShown) {
        if (strspn(szDate, "-") != cchDate - 1)
            abort();
        return;
    }
    // In a zone with DST the repeated autumn hour reads back either way.
    unsigned int timestampBack = TimestampFromDate(szDate);
    if (timestampBack != timestamp && (fExact || (timestampBack != timestamp - 3600 && timestampBack != timestamp + 3600)))
        abort();

    // Cut buffers keep their terminator.
    char szShort[8];
    memset(szShort, 'x', sizeof szShort);
    DateFromTimestamp(timestamp, szShort, 5);
    if (strlen(szShort) != 4 || szShort[6] != 'x')
        abort();
}

void CheckNote(unsigned int timestampStart, unsigned int timestampEnd)
{
    char szNote[256];
    char* psz = PszDSTNote(timestampStart, timestampEnd, szNote, sizeof szNote);
    if (psz && (psz != szNote || strnlen(szNote, sizeof szNote) == sizeof szNote))
        abort();
    char szTiny[12];
    psz = PszDSTNote(timestampStart, timestampEnd, szTiny, sizeof szTiny);
    if (psz && strnlen(szTiny, sizeof szTiny) == sizeof szTiny)
        abort();
}

void RunInZone(const uint8_t* data, size_t size, const std::string& strText, bool fExact)
{
    unsigned int timestamp = TimestampFromDate(strText.c_str());
    CheckDate(timestamp, fExact);
    for (size_t ib = 0; ib + 8 <= size && ib < 64; ib += 8) {
        unsigned int timestampA = TimestampFromBytes(data + ib);
        unsigned int timestampB = TimestampFromBytes(data + ib + 4);
        CheckDate(timestampA, fExact);
        CheckNote(timestampA, timestampB);
        // Spans near the interesting years: the low bits pick an instant from 2001 to 2038.
        unsigned int timestampNear = timestampEpoch2001 + timestampA % (timestampLastShown - timestampEpoch2001);
        CheckDate(timestampNear, fExact);
        CheckNote(timestampNear, timestampNear + (timestampB & 0x3FFFF));
    }
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string strText((const char*)data, size);   // cut at the first NUL by the parser
    if (!FSetZones("UTC"))
        abort();
    RunInZone(data, size, strText, true);
    if (!FSetZones("America/Los_Angeles"))
        abort();
    RunInZone(data, size, strText, false);
    return 0;
}
