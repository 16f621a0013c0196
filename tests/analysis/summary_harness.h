// Runs the session summary in-process on a log built by a test and returns what it printed.
#pragma once

#include <string>
#include <vector>

#include "analysis/run.h"
#include "testsupport/logbuilder.h"

// 2010-01-01 12:00:00 UTC: the base time of most summary tests.
constexpr uint32_t tsBase = 1262347200u;

struct SUMMARYOPT {
    int grfDisplay = 0;            // the report's layout: fdispTab, fdispMetric
    int fVerbose = 0;
    int fChargeDetail = 0;         // -u
    unsigned int grfRt = 0;
    unsigned int timestampStart = 0;
    unsigned int timestampEnd = 0;
    void (*pfnNotes)(void* pv, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent) = nullptr;
    void* pvNotes = nullptr;
};

// The sessions the summary handed to its consumer, in order, beside the report it printed.
struct SESSIONSSEEN {
    std::vector<DRIVESESSION> rgdrive;
    std::vector<CHARGESESSION> rgcharge;
    SUMMARYTOTALS totals{};
};

// A long-term VINF and DAY record dated a little before ts, then a transient VINF: the start of a
// log whose ring the summary walks from its transient VINF on.
LogBuilder LogStart(uint32_t ts = tsBase, unsigned rawAhDay = 3000);

// Section phase (output dropped), then RunSessionSummary with the report's consumer and stdout
// captured; the sessions handed over go to *pseen when given.
std::string RunSummary(const LogBuilder& log, const SUMMARYOPT& opt = {}, const char* pszPath = "vms_log",
                       SESSIONSSEEN* pseen = nullptr);

// The lines between the column heading and the totals line (the session lines and messages).
std::string SessionLines(const std::string& out);
// The totals line (without its newline), or "" when missing.
std::string TotalsLine(const std::string& out);
// Every line of the text that starts with `prefix`.
std::vector<std::string> LinesStartingWith(const std::string& out, const std::string& prefix);

// crec DR1S records secStep apart from ts on: 360 V, 100 A out of the battery, so each one adds
// 10 Wh and 100/3600 Ah. flags 0x41 marks traction control off.
void AddDrive(LogBuilder& log, uint32_t ts, int crec, double mph, int secStep = 1, int flags = 1);
// crec C1MB records a minute apart from ts on: 250 V line, 25 A charging, battery at 27 degrees.
void AddChargeMinutes(LogBuilder& log, uint32_t ts, int crec);
std::string Sp(int cch);

// Records that the shared builder has no helper for.
Rec TpmsRec(uint32_t date);
Rec NilRec(uint32_t date);
Rec C1maRec(uint32_t date, double voltsLine, double ampsCharge, double ampsIn, double degESSMax);
