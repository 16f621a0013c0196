// Reads a battery study report back into numbers. The report part (histograms, tables, summary) is
// read strictly, line by line, since quenfell prints it in one piece at the end of a run; what comes
// before it is whatever the run said on the way (VIN line, gaps, drops, tar prefixes) and is skipped.
#include "report.h"

#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

using std::string_view;

constexpr string_view svHistHeader = "------, -------";
constexpr string_view svTableRule = "--------------";
constexpr string_view svCapHeading = "timestamp, brickahmin, brickahave, bricknumber, CAC";
constexpr string_view svFwHeading = "timestamp, firmware version";
constexpr int cchQuoteMax = 40;   // how much of an offending line an error message shows

struct HISTDEF {
    const char* szTitle;
    const char* szUnit;
    const char* szName;
    int cBin;
};

constexpr HISTDEF s_rghistdef[cHistReport] = {
    {"charging amps", "seconds", "amps", 500},
    {"soc range %", "seconds", "soc", 101},
    {"temp C", "seconds", "temp", 200},
    {"kmiles", "seconds", "kmiles", 500},
    {"milesperday", "count", "milesperday", 1000},
};

// Walks the text one line at a time; a line's end is a line feed, with a carriage return before it
// dropped so that a report that went through a Windows mailer still reads.
struct LINES {
    const char* pch;
    size_t cb;
    size_t ib;
    int iLine;          // number of the line last returned
};

bool FNextLine(LINES* plines, string_view* psv)
{
    if (plines->ib >= plines->cb)
        return false;
    const char* pchStart = plines->pch + plines->ib;
    size_t cbLeft = plines->cb - plines->ib;
    const void* pvNl = std::memchr(pchStart, '\n', cbLeft);
    size_t cch = pvNl ? static_cast<size_t>(static_cast<const char*>(pvNl) - pchStart) : cbLeft;
    plines->ib += pvNl ? cch + 1 : cch;
    if (cch > 0 && pchStart[cch - 1] == '\r')
        cch--;
    plines->iLine++;
    *psv = string_view(pchStart, cch);
    return true;
}

// Puts back the line just read.
void UnreadLine(LINES* plines, string_view sv)
{
    plines->ib = static_cast<size_t>(sv.data() - plines->pch);
    plines->iLine--;
}

// Copies the line into a message as text a terminal shows safely.
void QuoteLine(string_view sv, char* pch, size_t cb)
{
    size_t ich = 0;
    for (size_t i = 0; i < sv.size() && ich + 4 < cb; i++) {
        if (i == static_cast<size_t>(cchQuoteMax)) {
            pch[ich++] = '.';
            pch[ich++] = '.';
            pch[ich++] = '.';
            break;
        }
        unsigned char ch = static_cast<unsigned char>(sv[i]);
        pch[ich++] = ch >= 0x20 && ch < 0x7F ? static_cast<char>(ch) : '?';
    }
    pch[ich] = 0;
}

bool FFail(PARSEERR* perr, int iLine, const char* szFormat, ...) __attribute__((format(printf, 3, 4)));

bool FFail(PARSEERR* perr, int iLine, const char* szFormat, ...)
{
    perr->iLine = iLine;
    va_list va;
    va_start(va, szFormat);
    std::vsnprintf(perr->achMsg, sizeof(perr->achMsg), szFormat, va);
    va_end(va);
    return false;
}

bool FFailFound(PARSEERR* perr, int iLine, const char* szExpected, string_view svFound)
{
    char achFound[cchQuoteMax + 8];
    QuoteLine(svFound, achFound, sizeof(achFound));
    return FFail(perr, iLine, "expected %s, found \"%s\"", szExpected, achFound);
}

bool FEndsWith(string_view sv, string_view svEnd)
{
    return sv.size() >= svEnd.size() && sv.substr(sv.size() - svEnd.size()) == svEnd;
}

bool FStartsWith(string_view sv, string_view svStart)
{
    return sv.size() >= svStart.size() && sv.substr(0, svStart.size()) == svStart;
}

// Reads a decimal int (with an optional minus) at the front of *psv and removes it.
bool FTakeInt(string_view* psv, int* pn)
{
    const char* pchEnd = psv->data() + psv->size();
    auto [pchStop, ec] = std::from_chars(psv->data(), pchEnd, *pn);
    if (ec != std::errc() || pchStop == psv->data())
        return false;
    psv->remove_prefix(static_cast<size_t>(pchStop - psv->data()));
    return true;
}

// Reads a decimal number ("%.2f" prints plain digits) at the front of *psv and removes it. No
// battery holds a billion ampere-hours: larger values are garbage and would only break the scales.
bool FTakeDouble(string_view* psv, double* pd)
{
    constexpr double ahImplausible = 1e9;
    const char* pchEnd = psv->data() + psv->size();
    auto [pchStop, ec] = std::from_chars(psv->data(), pchEnd, *pd, std::chars_format::fixed);
    if (ec != std::errc() || pchStop == psv->data() || !(std::fabs(*pd) < ahImplausible))
        return false;
    psv->remove_prefix(static_cast<size_t>(pchStop - psv->data()));
    return true;
}

bool FTakeText(string_view* psv, string_view svText)
{
    if (!FStartsWith(*psv, svText))
        return false;
    psv->remove_prefix(svText.size());
    return true;
}

// Reads n digits exactly.
bool FTakeDigits(string_view* psv, int cDigit, int* pn)
{
    if (psv->size() < static_cast<size_t>(cDigit))
        return false;
    int n = 0;
    for (int i = 0; i < cDigit; i++) {
        char ch = (*psv)[static_cast<size_t>(i)];
        if (ch < '0' || ch > '9')
            return false;
        n = n * 10 + (ch - '0');
    }
    psv->remove_prefix(static_cast<size_t>(cDigit));
    *pn = n;
    return true;
}

int CDaysInMonth(int year, int month)
{
    static constexpr int s_rgcDay[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    bool fLeap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && fLeap ? 29 : s_rgcDay[month - 1];
}

// Reads "mm/dd/yyyy hh:mm:ss" or 19 dashes at the front of *psv.
bool FTakeDate(string_view* psv, RDATE* pdate)
{
    if (psv->size() < static_cast<size_t>(cchDate))
        return false;
    string_view svDate = psv->substr(0, cchDate);
    std::memcpy(pdate->achText, svDate.data(), cchDate);
    pdate->achText[cchDate] = 0;
    if (svDate.find_first_not_of('-') == string_view::npos) {
        pdate->fDated = false;
        pdate->secCivil = 0;
        psv->remove_prefix(cchDate);
        return true;
    }
    int month = 0, day = 0, year = 0, hour = 0, minute = 0, second = 0;
    if (!FTakeDigits(&svDate, 2, &month) || !FTakeText(&svDate, "/") || !FTakeDigits(&svDate, 2, &day) ||
        !FTakeText(&svDate, "/") || !FTakeDigits(&svDate, 4, &year) || !FTakeText(&svDate, " ") ||
        !FTakeDigits(&svDate, 2, &hour) || !FTakeText(&svDate, ":") || !FTakeDigits(&svDate, 2, &minute) ||
        !FTakeText(&svDate, ":") || !FTakeDigits(&svDate, 2, &second))
        return false;
    // A leap second may show as :60 in a zone that keeps them.
    if (month < 1 || month > 12 || day < 1 || day > CDaysInMonth(year, month) || hour > 23 || minute > 59 ||
        second > 60)
        return false;
    pdate->fDated = true;
    pdate->secCivil = SecFromCivil(year, month, day, hour, minute, second);
    psv->remove_prefix(cchDate);
    return true;
}

// "%d, %d" of one histogram row.
bool FParseHistRow(string_view sv, int* piBin, int* pcount)
{
    return FTakeInt(&sv, piBin) && FTakeText(&sv, ", ") && FTakeInt(&sv, pcount) && sv.empty();
}

// "%s, %.2f, %.2f, %d, %.2f" of one daily sample.
bool FParseCapRow(string_view sv, CAPROW* pcap)
{
    return FTakeDate(&sv, &pcap->date) && FTakeText(&sv, ", ") && FTakeDouble(&sv, &pcap->ahBrickMin) &&
           FTakeText(&sv, ", ") && FTakeDouble(&sv, &pcap->ahBrickAve) && FTakeText(&sv, ", ") &&
           FTakeInt(&sv, &pcap->iBrickAhMin) && FTakeText(&sv, ", ") && FTakeDouble(&sv, &pcap->ahCAC) &&
           sv.empty();
}

// "%s, %d.%d.%d %d" of one firmware change; the version is kept as printed.
bool FParseFwRow(string_view sv, FWROW* pfw)
{
    if (!FTakeDate(&sv, &pfw->date) || !FTakeText(&sv, ", "))
        return false;
    string_view svVersion = sv;
    int n;
    if (!FTakeInt(&sv, &n) || !FTakeText(&sv, ".") || !FTakeInt(&sv, &n) || !FTakeText(&sv, ".") ||
        !FTakeInt(&sv, &n) || !FTakeText(&sv, " ") || !FTakeInt(&sv, &n) || !sv.empty() ||
        svVersion.size() > static_cast<size_t>(cchFirmwareMax))
        return false;
    std::memcpy(pfw->achVersion, svVersion.data(), svVersion.size());
    pfw->achVersion[svVersion.size()] = 0;
    return true;
}

// "<which> Timestamp from %s to %s; %d days".
bool FParseSpan(string_view sv, string_view svWhich, SPAN* pspan)
{
    return FTakeText(&sv, svWhich) && FTakeText(&sv, " Timestamp from ") && FTakeDate(&sv, &pspan->dateFrom) &&
           FTakeText(&sv, " to ") && FTakeDate(&sv, &pspan->dateTo) && FTakeText(&sv, "; ") &&
           FTakeInt(&sv, &pspan->cDays) && FTakeText(&sv, " days") && sv.empty();
}

bool FParseDetailLine(string_view sv, REPORT* prep)
{
    return FTakeText(&sv, "Days of detail: ") && FTakeInt(&sv, &prep->cDaysDetail) &&
           FTakeText(&sv, ", odomoter max: ") && FTakeInt(&sv, &prep->milesOdoMax) && sv.empty();
}

// Step 1: the report starts at the first histogram header. A tar prefix may stand glued before it
// when the last download's archive had one and the run printed nothing else after it.
bool FSkipToReport(LINES* plines, REPORT* prep, PARSEERR* perr)
{
    string_view sv;
    while (FNextLine(plines, &sv)) {
        if (FEndsWith(sv, svHistHeader)) {
            prep->iLineFirst = plines->iLine;
            return true;
        }
    }
    return FFail(perr, plines->iLine + 1, "no battery report found (no \"%s\" histogram header)",
                 svHistHeader.data());
}

// Step 2: one histogram, after its header line. Leaves the line that ended its rows unread.
bool FParseHist(LINES* plines, HISTDEF const* pdef, HIST* phist, PARSEERR* perr)
{
    phist->szTitle = pdef->szTitle;
    phist->szUnit = pdef->szUnit;
    phist->szName = pdef->szName;
    phist->cBin = pdef->cBin;
    phist->iLast = -1;

    char achTitle[64];
    std::snprintf(achTitle, sizeof(achTitle), "%s, %s", pdef->szTitle, pdef->szUnit);
    string_view sv;
    if (!FNextLine(plines, &sv))
        return FFail(perr, plines->iLine + 1, "the report ends inside the \"%s\" histogram", pdef->szTitle);
    if (sv != achTitle) {
        char achExpected[96];
        std::snprintf(achExpected, sizeof(achExpected), "the histogram title \"%s\"", achTitle);
        return FFailFound(perr, plines->iLine, achExpected, sv);
    }
    while (FNextLine(plines, &sv)) {
        int iBin, count;
        if (!FParseHistRow(sv, &iBin, &count)) {
            UnreadLine(plines, sv);
            return true;
        }
        if (iBin < 0 || iBin >= pdef->cBin)
            return FFail(perr, plines->iLine, "bin %d is outside the \"%s\" histogram (0 to %d)", iBin,
                         pdef->szTitle, pdef->cBin - 1);
        if (iBin <= phist->iLast)
            return FFail(perr, plines->iLine, "bin %d of the \"%s\" histogram comes after bin %d", iBin,
                         pdef->szTitle, phist->iLast);
        if (count < 0)
            return FFail(perr, plines->iLine, "negative count %d in the \"%s\" histogram", count, pdef->szTitle);
        phist->rgCount[iBin] = count;
        phist->iLast = iBin;
        phist->cRow++;
        if (count > 0)
            phist->cNonZero++;
        if (count > phist->countMax)
            phist->countMax = count;
    }
    return FFail(perr, plines->iLine + 1, "the report ends inside the \"%s\" histogram", pdef->szTitle);
}

// Reads the line that must come next; szWhat names it in the message.
bool FExpectLine(LINES* plines, string_view svExpected, const char* szWhat, PARSEERR* perr)
{
    string_view sv;
    if (!FNextLine(plines, &sv))
        return FFail(perr, plines->iLine + 1, "the report ends before %s", szWhat);
    if (sv != svExpected)
        return FFailFound(perr, plines->iLine, szWhat, sv);
    return true;
}

// Step 3: the daily capacity table, rows until the rule that opens the firmware table.
bool FParseCapTable(LINES* plines, REPORT* prep, PARSEERR* perr)
{
    if (!FExpectLine(plines, svCapHeading, "the capacity table heading", perr))
        return false;
    string_view sv;
    while (FNextLine(plines, &sv)) {
        if (sv == svTableRule)
            return true;
        if (prep->ccap == cCapRowMax)
            return FFail(perr, plines->iLine, "more than %d rows in the capacity table", cCapRowMax);
        if (!FParseCapRow(sv, &prep->rgcap[prep->ccap]))
            return FFailFound(perr, plines->iLine, "a capacity row \"date, brickahmin, brickahave, bricknumber, CAC\"",
                              sv);
        prep->ccap++;
    }
    return FFail(perr, plines->iLine + 1, "the report ends inside the capacity table");
}

// Step 4: the firmware table, rows until the first summary line (left unread).
bool FParseFwTable(LINES* plines, REPORT* prep, PARSEERR* perr)
{
    if (!FExpectLine(plines, svFwHeading, "the firmware table heading", perr))
        return false;
    string_view sv;
    while (FNextLine(plines, &sv)) {
        if (FStartsWith(sv, "Daily Timestamp from ")) {
            UnreadLine(plines, sv);
            return true;
        }
        if (prep->cfw == cFwRowMax)
            return FFail(perr, plines->iLine, "more than %d rows in the firmware table", cFwRowMax);
        if (!FParseFwRow(sv, &prep->rgfw[prep->cfw]))
            return FFailFound(perr, plines->iLine, "a firmware row \"date, a.b.c d\"", sv);
        prep->cfw++;
    }
    return FFail(perr, plines->iLine + 1, "the report ends inside the firmware table");
}

// Step 5: the three summary lines. Whatever follows them is not the report's.
bool FParseSummary(LINES* plines, REPORT* prep, PARSEERR* perr)
{
    string_view sv;
    if (!FNextLine(plines, &sv))
        return FFail(perr, plines->iLine + 1, "the report ends before its summary lines");
    if (!FParseSpan(sv, "Daily", &prep->spanDaily))
        return FFailFound(perr, plines->iLine, "\"Daily Timestamp from DATE to DATE; N days\"", sv);
    if (!FNextLine(plines, &sv))
        return FFail(perr, plines->iLine + 1, "the report ends before its \"Detail Timestamp\" line");
    if (!FParseSpan(sv, "Detail", &prep->spanDetail))
        return FFailFound(perr, plines->iLine, "\"Detail Timestamp from DATE to DATE; N days\"", sv);
    if (!FNextLine(plines, &sv))
        return FFail(perr, plines->iLine + 1, "the report ends before its \"Days of detail\" line");
    if (!FParseDetailLine(sv, prep))
        return FFailFound(perr, plines->iLine, "\"Days of detail: N, odomoter max: N\"", sv);
    return true;
}

}  // namespace

int64_t SecFromCivil(int year, int month, int day, int hour, int minute, int second)
{
    // Days from 1970-01-01 in the proleptic Gregorian calendar, counted in 400-year eras.
    int64_t y = static_cast<int64_t>(year) - (month <= 2 ? 1 : 0);
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468;
    return days * 86400 + hour * 3600 + minute * 60 + second;
}

void CivilFromSec(int64_t secCivil, int* pyear, int* pmonth, int* pday)
{
    int64_t days = (secCivil >= 0 ? secCivil : secCivil - 86399) / 86400 + 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t doe = days - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int64_t day = doy - (153 * mp + 2) / 5 + 1;
    int64_t month = mp < 10 ? mp + 3 : mp - 9;
    *pyear = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    *pmonth = static_cast<int>(month);
    *pday = static_cast<int>(day);
}

bool FParseReport(const char* pch, size_t cb, REPORT* prep, PARSEERR* perr)
{
    std::memset(prep, 0, sizeof(*prep));
    std::memset(perr, 0, sizeof(*perr));
    LINES lines{pch, pch ? cb : 0, 0, 0};

    if (!FSkipToReport(&lines, prep, perr))
        return false;
    for (int ihist = 0; ihist < cHistReport; ihist++) {
        if (!FParseHist(&lines, &s_rghistdef[ihist], &prep->rghist[ihist], perr))
            return false;
        // Between histograms the next header must follow; after the last, the table rule.
        string_view sv;
        FNextLine(&lines, &sv);
        if (ihist + 1 < cHistReport && sv != svHistHeader) {
            char achExpected[96];
            std::snprintf(achExpected, sizeof(achExpected), "a row of the \"%s\" histogram or the header \"%s\"",
                          s_rghistdef[ihist].szTitle, svHistHeader.data());
            return FFailFound(perr, lines.iLine, achExpected, sv);
        }
        if (ihist + 1 == cHistReport && sv != svTableRule) {
            char achExpected[96];
            std::snprintf(achExpected, sizeof(achExpected), "a row of the \"%s\" histogram or the rule \"%s\"",
                          s_rghistdef[ihist].szTitle, svTableRule.data());
            return FFailFound(perr, lines.iLine, achExpected, sv);
        }
    }
    return FParseCapTable(&lines, prep, perr) && FParseFwTable(&lines, prep, perr) &&
           FParseSummary(&lines, prep, perr);
}
