// Reads a battery study report back into numbers. The report part (histograms, tables, summary) is
// read strictly, line by line, since quenfell prints it in one piece at the end of a run; what comes
// before it is whatever the run said on the way (VIN line, gaps, drops, tar prefixes) and is skipped.
#include "plot/studyreport.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "report/reportformat.h"
#include "support/civil.h"

namespace {

using std::string_view;

constexpr string_view svHistHeader = szReportHistHeader;
constexpr string_view svTableRule = szReportTableRule;
constexpr string_view svCapHeading = szReportCapHeading;
constexpr string_view svFwHeading = szReportFwHeading;
constexpr int64_t secDay = 86400;
constexpr int cchQuoteMax = 40;   // how much of an offending line an error message shows

struct HISTDEF {
    const char* szTitle;
    const char* szUnit;
    const char* szName;
    int cBin;
};

constexpr HISTDEF s_rghistdef[cHistReport] = {
    {szReportHistAmps, szReportUnitSeconds, "amps", 500},
    {szReportHistSOC, szReportUnitSeconds, "soc", 101},
    {szReportHistTemp, szReportUnitSeconds, "temp", 200},
    {szReportHistKmiles, szReportUnitSeconds, "kmiles", 500},
    {szReportHistMilesPerDay, szReportUnitCount, "milesperday", 1000},
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
    // The number's extent is found here and converted by strtod: not every standard library has
    // from_chars for floating point. strtod rounds the same; the program keeps the "C" locale.
    constexpr size_t cchNumberMax = 64;
    size_t ich = 0;
    if (ich < psv->size() && (*psv)[ich] == '-')
        ich++;
    size_t cDigit = 0;
    for (bool fPoint = false; ich < psv->size(); ich++) {
        char ch = (*psv)[ich];
        if (ch >= '0' && ch <= '9')
            cDigit++;
        else if (ch == '.' && !fPoint)
            fPoint = true;
        else
            break;
    }
    if (cDigit == 0 || ich >= cchNumberMax)
        return false;
    char szNumber[cchNumberMax];
    memcpy(szNumber, psv->data(), ich);
    szNumber[ich] = '\0';
    *pd = strtod(szNumber, nullptr);
    if (!(std::fabs(*pd) < ahImplausible))
        return false;
    psv->remove_prefix(ich);
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

// A line read against the printf format quenfell printed it with: the format's text between
// conversions must stand in the line as it is, and each conversion is read by the taker of its
// kind. The report's formats hold no "%%".
struct FIELDS {
    string_view sv;           // what is left of the line
    const char* pchFormat;    // what is left of the format
};

// Matches the format's text up to its next conversion or line end, and stops there.
bool FTakeFormatText(FIELDS* pfields)
{
    const char* pch = pfields->pchFormat;
    while (*pch != 0 && *pch != '%' && *pch != '\n')
        pch++;
    if (!FTakeText(&pfields->sv, string_view(pfields->pchFormat, static_cast<size_t>(pch - pfields->pchFormat))))
        return false;
    pfields->pchFormat = pch;
    return true;
}

// Matches the text before the next conversion, which must be of kind chConversion ('d', 'f', 's'),
// and steps over the conversion; the caller then reads its value.
bool FTakeConversion(FIELDS* pfields, char chConversion)
{
    if (!FTakeFormatText(pfields) || *pfields->pchFormat != '%')
        return false;
    const char* pch = pfields->pchFormat + 1;
    while (*pch == '.' || (*pch >= '0' && *pch <= '9'))
        pch++;
    if (*pch != chConversion)
        return false;
    pfields->pchFormat = pch + 1;
    return true;
}

bool FTakeIntField(FIELDS* pfields, int* pn)
{
    return FTakeConversion(pfields, 'd') && FTakeInt(&pfields->sv, pn);
}

bool FTakeDoubleField(FIELDS* pfields, double* pd)
{
    return FTakeConversion(pfields, 'f') && FTakeDouble(&pfields->sv, pd);
}

bool FTakeDateField(FIELDS* pfields, RDATE* pdate)
{
    return FTakeConversion(pfields, 's') && FTakeDate(&pfields->sv, pdate);
}

// A "%s" that holds a known text.
bool FTakeTextField(FIELDS* pfields, string_view svText)
{
    return FTakeConversion(pfields, 's') && FTakeText(&pfields->sv, svText);
}

// The format's remaining text ends the line.
bool FTakeLineEnd(FIELDS* pfields)
{
    return FTakeFormatText(pfields) && (*pfields->pchFormat == 0 || *pfields->pchFormat == '\n') &&
           pfields->sv.empty();
}

bool FParseHistRow(string_view sv, int* piBin, int* pcount)
{
    FIELDS fields{sv, szReportHistRowFormat};
    return FTakeIntField(&fields, piBin) && FTakeIntField(&fields, pcount) && FTakeLineEnd(&fields);
}

bool FParseCapRow(string_view sv, CAPROW* pcap)
{
    FIELDS fields{sv, szReportCapRowFormat};
    return FTakeDateField(&fields, &pcap->date) && FTakeDoubleField(&fields, &pcap->ahBrickMin) &&
           FTakeDoubleField(&fields, &pcap->ahBrickAve) && FTakeIntField(&fields, &pcap->iBrickAhMin) &&
           FTakeDoubleField(&fields, &pcap->ahCAC) && FTakeLineEnd(&fields);
}

// The version is kept as printed, and must read as "%d.%d.%d %d".
bool FParseFwRow(string_view sv, FWROW* pfw)
{
    FIELDS fields{sv, szReportFwRowFormat};
    if (!FTakeDateField(&fields, &pfw->date) || !FTakeConversion(&fields, 's'))
        return false;
    string_view svVersion = fields.sv;
    int n;
    if (!FTakeInt(&fields.sv, &n) || !FTakeText(&fields.sv, ".") || !FTakeInt(&fields.sv, &n) ||
        !FTakeText(&fields.sv, ".") || !FTakeInt(&fields.sv, &n) || !FTakeText(&fields.sv, " ") ||
        !FTakeInt(&fields.sv, &n) || !FTakeLineEnd(&fields) || svVersion.size() > static_cast<size_t>(cchFirmwareMax))
        return false;
    std::memcpy(pfw->achVersion, svVersion.data(), svVersion.size());
    pfw->achVersion[svVersion.size()] = 0;
    return true;
}

// The span line up to its first date, which is how the firmware table's end is recognised.
bool FTakeSpanStart(FIELDS* pfields, string_view svWhich)
{
    return FTakeTextField(pfields, svWhich) && FTakeFormatText(pfields);
}

bool FParseSpan(string_view sv, string_view svWhich, SPAN* pspan)
{
    FIELDS fields{sv, szReportSpanFormat};
    return FTakeSpanStart(&fields, svWhich) && FTakeDateField(&fields, &pspan->dateFrom) &&
           FTakeDateField(&fields, &pspan->dateTo) && FTakeIntField(&fields, &pspan->cDays) &&
           FTakeLineEnd(&fields);
}

bool FParseDetailLine(string_view sv, REPORT* prep)
{
    FIELDS fields{sv, szReportDetailFormat};
    return FTakeIntField(&fields, &prep->cDaysDetail) && FTakeIntField(&fields, &prep->milesOdoMax) &&
           FTakeLineEnd(&fields);
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
    std::snprintf(achTitle, sizeof(achTitle), szReportHistTitleFormat, pdef->szTitle, pdef->szUnit);
    achTitle[std::strcspn(achTitle, "\n")] = 0;
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
        FIELDS fields{sv, szReportSpanFormat};
        if (FTakeSpanStart(&fields, szReportSpanDaily)) {
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
    if (!FParseSpan(sv, szReportSpanDaily, &prep->spanDaily))
        return FFailFound(perr, plines->iLine, "\"Daily Timestamp from DATE to DATE; N days\"", sv);
    if (!FNextLine(plines, &sv))
        return FFail(perr, plines->iLine + 1, "the report ends before its \"Detail Timestamp\" line");
    if (!FParseSpan(sv, szReportSpanDetail, &prep->spanDetail))
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
    return DaysFromCivil(year, month, day) * secDay + hour * 3600 + minute * 60 + second;
}

void CivilFromSec(int64_t secCivil, int* pyear, int* pmonth, int* pday)
{
    int64_t days = (secCivil >= 0 ? secCivil : secCivil - (secDay - 1)) / secDay;
    int64_t year;
    CivilFromDays(days, &year, pmonth, pday);
    *pyear = static_cast<int>(year);
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
