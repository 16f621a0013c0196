// Printing decoded records: the start of a record's line, its values in the labelled text layout or
// the tab-delimited layout, and the headings. Lines are assembled in a local buffer with
// printf-exact formatting and written to standard output in one piece.
#include "records/listing.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/line.h"
#include "support/output.h"
#include "support/timecal.h"

namespace {

constexpr int cchDateField = 19;
constexpr int cchTimestampField = 10;
constexpr int cchCodeField = 4;

// The tyre text, the same in both layouts.
void AddTireText(LINE& line, VLR const* pvlr)
{
    static const char* const s_rgszTire[4] = {"LF: ", " | RF: ", " | LR: ", " | RR: "};
    for (int i = 0; i < 4; i++) {
        line.Sz(s_rgszTire[i]);
        line.Fixed(pvlr->rgpsiTire[i], 1);
        line.Sz(" psi ");
        line.Int(pvlr->rgdegTire[i]);
        line.Sz(" deg");
    }
}

void PrintVlrTab(LINE& line, VLR const* pvlr, int fMetric)
{
    uint32_t grf = pvlr->grf;
    // Each column ends with a tab whether or not the record has its value. The tabs of the columns
    // a record leaves empty, most of them, are written together before the next value.
    int ctab = 1;
    auto value = [&]() {
        line.Tabs(ctab);
        ctab = 0;
    };
    auto fixed = [&](uint32_t bit, double v, int prec) {
        if (grf & bit) {
            value();
            line.Fixed(v, prec);
        }
        ctab++;
    };
    auto integer = [&](uint32_t bit, long v) {
        if (grf & bit) {
            value();
            line.Int(v);
        }
        ctab++;
    };

    fixed(fvlrOdometer, DistConvertMiles(pvlr->milesOdo, fMetric), 1);
    integer(fvlrSOC, pvlr->pctSOC);
    integer(fvlrElevation, DistConvertMeters(pvlr->mElevation, fMetric));
    fixed(fvlrSpeed, SpeedConvertMph(pvlr->mphSpeed, fMetric), 1);
    fixed(fvlrPower, pvlr->voltsESS, 1);
    fixed(fvlrPower, pvlr->ampsESS, 1);
    fixed(fvlrMotorAmps, pvlr->ampsMotor, 0);
    fixed(fvlrTorque, pvlr->lbftTorque, 0);
    if (grf & fvlrPedal) {
        value();
        line.Fixed(pvlr->bPedal / 2.55, 0);
        line.Ch('%');
    }
    ctab++;
    integer(fvlrBrake, pvlr->fBrake);
    integer(fvlrRegen, pvlr->fRegen);
    integer(fvlrTC, pvlr->fTCOff == 0 ? 1 : 0);
    fixed(fvlrTempPEM, pvlr->degPEM, 0);
    fixed(fvlrTempMotor, pvlr->degMotor, 0);
    fixed(fvlrTempMotor2, pvlr->degMotor2, 0);
    fixed(fvlrTempCoolant, pvlr->degCoolant, 0);
    fixed(fvlrTempESS, pvlr->degESSMin, 2);
    fixed(fvlrTempESS, pvlr->degESSMax, 2);
    integer(fvlrCooling, pvlr->nCooling);
    fixed(fvlrDistance, DistConvertMiles(pvlr->milesDrive, fMetric), 1);
    fixed(fvlrLineVolts, pvlr->voltsLine, 1);
    fixed(fvlrChargeAmps, pvlr->ampsCharge, 2);
    integer(fvlrAmpsAvailable, pvlr->ampsAvailable);
    fixed(fvlrBrickVolts, pvlr->voltsBrickMin, 3);
    fixed(fvlrBrickVolts, pvlr->voltsBrickMax, 3);
    integer(fvlrBrickVolts, pvlr->iBrickVMin);
    integer(fvlrBrickVolts, pvlr->iBrickVMax);
    fixed(fvlrBrickAh, pvlr->ahBrickAve, 3);
    fixed(fvlrBrickAh, pvlr->ahBrickMin, 3);
    integer(fvlrBrickAh, pvlr->iBrickAhMin);
    fixed(fvlrCAC, pvlr->ahCAC, 2);
    integer(pvlr->codeError != 0 ? fvlrError : 0, pvlr->codeError);
    line.Tabs(ctab);
    if (grf & fvlrDesc) {
        line.Ch(' ');
        line.Sz(pvlr->szDesc);
    }
    if (grf & fvlrTPMS)
        AddTireText(line, pvlr);
}

void PrintVlrText(LINE& line, VLR const* pvlr, int fMetric)
{
    uint32_t grf = pvlr->grf;
    // Inlined at each of its calls, the labels' lengths are known when compiling; GCC stops doing so
    // by itself once the unit helpers are inline too.
    auto labelled = [&](uint32_t bit, const char* szLabel, double value, int prec,
                        const char* szUnit) __attribute__((always_inline)) {
        if (!(grf & bit))
            return;
        line.Sz(szLabel);
        line.Fixed(value, prec);
        line.Sz(szUnit);
    };

    labelled(fvlrOdometer, " odo = ", DistConvertMiles(pvlr->milesOdo, fMetric), 1, "");
    if (grf & fvlrSOC) {
        line.Sz(" range soc = ");
        line.Int(pvlr->pctSOC);
        line.Ch('%');
    }
    if (grf & fvlrElevation) {
        line.Sz(" elevation = ");
        line.Int(DistConvertMeters(pvlr->mElevation, fMetric));
        line.Ch(' ');
        line.Sz(UnitsDistFtM(fMetric));
    }
    if (grf & fvlrSpeed) {
        line.Sz(" speed = ");
        line.Fixed(SpeedConvertMph(pvlr->mphSpeed, fMetric), 1);
        line.Ch(' ');
        line.Sz(UnitsSpeed(fMetric));
    }
    labelled(fvlrPower, " volts = ", pvlr->voltsESS, 1, "");
    labelled(fvlrPower, " amps = ", pvlr->ampsESS, 1, "");
    labelled(fvlrMotorAmps, " motor amps = ", pvlr->ampsMotor, 0, "");
    labelled(fvlrTorque, " torque = ", pvlr->lbftTorque, 0, "");
    labelled(fvlrPedal, " pedal = ", pvlr->bPedal / 2.55, 0, "%");
    if ((grf & fvlrBrake) && pvlr->fBrake)
        line.Sz(" brake applied");
    if ((grf & fvlrRegen) && pvlr->fRegen)
        line.Sz(" regen");
    if ((grf & fvlrTC) && pvlr->fTCOff)
        line.Sz(" TC off");
    labelled(fvlrTempPEM, " PEM ", pvlr->degPEM, 0, "C");
    labelled(fvlrTempMotor, " Motor ", pvlr->degMotor, 0, "C");
    labelled(fvlrTempMotor2, " Motor2 ", pvlr->degMotor2, 0, "C");
    labelled(fvlrTempCoolant, " Coolant ", pvlr->degCoolant, 0, "C");
    labelled(fvlrTempESS, " ESS ", pvlr->degESSMin, 2, "C - ");
    if (grf & fvlrTempESS) {
        line.Fixed(pvlr->degESSMax, 2);
        line.Ch('C');
    }
    if (grf & fvlrCooling) {
        line.Sz(" cooling = ");
        line.Int(pvlr->nCooling);
    }
    if (grf & fvlrDistance) {
        line.Sz(" drive dist = ");
        line.Fixed(DistConvertMiles(pvlr->milesDrive, fMetric), 1);
        line.Ch(' ');
        line.Sz(UnitsDistMiKm(fMetric));
    }
    if (grf & (fvlrChargeAmps | fvlrLineVolts))
        line.Sz(" charging at");
    labelled(fvlrLineVolts, " ", pvlr->voltsLine, 1, "V");
    labelled(fvlrChargeAmps, " ", pvlr->ampsCharge, 2, "A");
    if (grf & fvlrAmpsAvailable) {
        line.Sz(", ");
        line.Int(pvlr->ampsAvailable);
        line.Sz("A available");
    }
    if (grf & fvlrBrickVolts) {
        labelled(fvlrBrickVolts, ", ", pvlr->voltsBrickMin, 3, "V min");
        labelled(fvlrBrickVolts, ", ", pvlr->voltsBrickMax, 3, "V max");
        line.Sz(", ");
        line.Int(pvlr->iBrickVMin);
        line.Sz(" brick min V, ");
        line.Int(pvlr->iBrickVMax);
        line.Sz(" brick max V");
    }
    if (grf & fvlrBrickAh) {
        labelled(fvlrBrickAh, ", brick ave ", pvlr->ahBrickAve, 3, "Ah");
        labelled(fvlrBrickAh, ", brick min ", pvlr->ahBrickMin, 3, "Ah");
        line.Sz(", min Ah brick ");
        line.Int(pvlr->iBrickAhMin);
    }
    labelled(fvlrCAC, ", CAC ", pvlr->ahCAC, 2, " Ah");
    if ((grf & fvlrError) && pvlr->codeError != 0) {
        line.Sz(" error code ");
        line.Int(pvlr->codeError);
    }
    if (grf & fvlrDesc) {
        line.Ch(' ');
        line.Sz(pvlr->szDesc);
    }
    if (grf & fvlrTPMS)
        AddTireText(line, pvlr);
}

}  // namespace

void PrintVlrHeader(int grfDisplay)
{
    int fMetric = grfDisplay & fdispMetric;
    if (grfDisplay & fdispOffset)
        OutSz("file offset\t");
    printf("date\ttimestamp\trecord type\todometer (%s)\tSOC (Range %%)\tElevation (%s)\tspeed\tESS V\tESS A\t"
           "Motor A\ttorque\tpedal\tbrake\tregen\tTC state\tPEM Temp (C)\tMotor Temp (C)\tMotor2 Temp (C)\t"
           "Coolant Temp (C)\tESS Min Temp (C)\tESS Max Temp (C)\tCooling\tdrive dist (%s)\tline V\tcharge A\t"
           "line A avail\tvBrickMin\tvBrickMax\tBrickMinV\tBrickMaxV\tBrick Ah Ave\tBrick Ah Min\t"
           "Min Ah Brick Number\tCAC\terror code\tnotes\n",
           UnitsDistMiKm(fMetric), UnitsDistFtM(fMetric), UnitsDistMiKm(fMetric));
}

void PrintTextHeader(int grfDisplay)
{
    int fOffset = grfDisplay & fdispOffset;
    int fHeader = grfDisplay & fdispHeaderBytes;
    printf("%sdate and time         timestamp    tag   %s data\n", fOffset ? "file offset " : "",
           fHeader ? " start cb rt t2 t3 date      " : "");
    printf("%s-------------------   ----------   ----  %s ----\n", fOffset ? "----------- " : "",
           fHeader ? " ----- -- -- -- -- --------  " : "");
}

namespace {

void AddRecordOffset(LINE& line, long pos, int grfDisplay)
{
    line.Sz("0x");
    line.Hex((unsigned long)pos, 8, false);
    line.Sz((grfDisplay & fdispTab) ? "\t" : ": ");
}

void AddRecordLineStart(LINE& line, unsigned char const* rec, int cb, unsigned int timestamp, const char* szDate,
                        int grfDisplay)
{
    bool fTab = grfDisplay & fdispTab;
    const char* szSep = fTab ? "\t" : " | ";
    size_t const cchSep = fTab ? 1 : 3;
    char chSep = fTab ? '\t' : ' ';
    char szCode[5];

    line.SzRight(szDate, cchDateField);
    line.Cch(szSep, cchSep);
    line.IntRight((int32_t)timestamp, cchTimestampField);
    line.Cch(szSep, cchSep);
    line.SzLeft(SzListCodeFromRt(rec[3], szCode), cchCodeField);
    if (!fTab)
        line.Sz(" |");
    if (grfDisplay & fdispHeaderBytes) {
        for (int ib = 0; ib < 6; ib++) {
            line.Ch(ib == 0 ? chSep : ' ');
            line.Hex(rec[ib], 2, true);
        }
        line.Ch(' ');
        line.Hex(timestamp, 8, true);
    }
    if (grfDisplay & fdispRawBytes) {
        line.Sz(" |");
        for (int ib = cbRecordHeader; ib < cb; ib++) {
            line.Ch(chSep);
            line.Hex(rec[ib], 2, true);
        }
    }
}

void AddVlr(LINE& line, int grfDisplay, VLR const* pvlr)
{
    int fMetric = grfDisplay & fdispMetric;
    if (grfDisplay & fdispTab)
        PrintVlrTab(line, pvlr, fMetric);
    else
        PrintVlrText(line, pvlr, fMetric);
}

}   // namespace

void PrintRecordOffset(long pos, int grfDisplay)
{
    LINE line;
    AddRecordOffset(line, pos, grfDisplay);
}

void PrintVlr(int grfDisplay, VLR const* pvlr)
{
    LINE line;
    AddVlr(line, grfDisplay, pvlr);
}

void PrintRecordLine(long pos, unsigned char const* rec, int cb, VLR const* pvlr, int grfDisplay)
{
    PrintRecordLineMemo(pos, rec, cb, pvlr, grfDisplay, nullptr);
}

void PrintRecordLineMemo(long pos, unsigned char const* rec, int cb, VLR const* pvlr, int grfDisplay,
                         DATEMEMO* pmemo)
{
    // The whole line is assembled in one piece and written once.
    LINE line;
    if (grfDisplay & fdispOffset)
        AddRecordOffset(line, pos, grfDisplay);
    char szDate[20];
    uint32_t timestamp = TimestampFromRh((RH const*)rec);
    if (pmemo)
        DateFromTimestampMemo(timestamp, szDate, sizeof szDate, pmemo);
    else
        DateFromTimestamp(timestamp, szDate, sizeof szDate);
    AddRecordLineStart(line, rec, cb, timestamp, szDate, grfDisplay);
    if (pvlr->grf != 0)
        AddVlr(line, grfDisplay, pvlr);
    line.Ch('\n');
}
