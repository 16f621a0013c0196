// What the history database needs of the decoding core, behind one small interface: a download's
// records as the join takes them, the join's merge of two runs of records, the default report's
// drives and charges over a stretch of history, and the decoded figures of single records. Every
// call into the core is made in ingest.cpp, so that the database follows the core's rules exactly
// and is re-pointed in one place when the core changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "analysis/owner.h"
#include "analysis/sessions.h"
#include "records/record.h"

// One record of a RECORDS: where its bytes start, their length, its corrected time and its type.
struct RECINFO {
    uint64_t ib;
    uint32_t timestamp;
    uint16_t cb;
    uint8_t rt;
    uint8_t fShared;   // the bytes lie in RECORDS.pbShared, not in its own rgb
};

// Records in order, and where each one lies: back to back in rgb, as a log holds them, except
// those that lie in memory someone else keeps for as long as the records are used (a download's
// mapping), which are not copied.
struct RECORDS {
    std::vector<uint8_t> rgb;
    std::vector<RECINFO> rgrec;
    uint8_t const* pbShared = nullptr;
};

// Appends the records found in the cb bytes at pb (every record the core's scanner finds there).
void AppendRecords(RECORDS* precs, uint8_t const* pb, size_t cb);
// Appends record irec of precsFrom.
void AppendRecord(RECORDS* precs, RECORDS const& recsFrom, size_t irec);
// Appends records [irecFirst, irecLim) of recsFrom.
void AppendRecordRange(RECORDS* precs, RECORDS const& recsFrom, size_t irecFirst, size_t irecLim);
inline uint8_t const* PbRecord(RECORDS const& recs, size_t irec)
{
    RECINFO const& info = recs.rgrec[irec];
    return (info.fShared ? recs.pbShared : recs.rgb.data()) + info.ib;
}

class STREAM;

// What one download holds, read as quenfell reads it. It keeps the download open: its transient
// records are read where they lie.
struct DOWNLOAD {
    STREAM* pstream = nullptr;
    RECORDS transient;          // the records the join takes from it, in the join's order
    RECORDS longTerm;           // every record of its long-term part, in file order
    long crecSkipped = 0;       // transient records the join passes over (bad or implausible times)
    unsigned int timestampLastValid = 0;   // the newest credible time: the download's name, else now
    char szVIN[18] = {0};       // of its last vehicle-info record; empty when it has none
    int rver = 0;               // the vehicle type of that record, 0 when none
    bool fChanged = false;              // the file was cut short while it was read
    DOWNLOAD() = default;
    DOWNLOAD(DOWNLOAD const&) = delete;
    DOWNLOAD& operator=(DOWNLOAD const&) = delete;
    ~DOWNLOAD();
};

// Opens the download (a log, or a *.tar holding vms_log) and reads it into a fresh DOWNLOAD. False with the reason
// ("could not find vms_log in 'x'", "can't open 'x': ...") when it cannot be read at all.
bool FReadDownload(char const* pszPath, DOWNLOAD* pdl, std::string* pstrErr);

// The join's merge of two runs of records, each in the join's order: every record once, time
// order, the held copy kept where two disagree. *pcconflict counts such disagreements.
void MergeRecords(RECORDS const& recsHeld, RECORDS const& recsAdded, RECORDS* pout, long* pcconflict);

// The default report's drives and charges over a stretch of the joined history, which must
// start with a vehicle-info record; handed over as each one closes, in the walk's order, and
// (pfnRecord, when not null) each record the walk decodes, before the session it closes.
struct SESSIONSINK {
    void (*pfnDrive)(void* pv, DRIVESESSION const* pds);
    void (*pfnCharge)(void* pv, CHARGESESSION const* pcs);
    void* pv;
    void (*pfnRecord)(void* pv, VLR const* pvlr) = nullptr;
};
void WalkSessions(RECORDS const& recsLog, SESSIONSINK const* psink);

// Decodes records [irecFirst, irecLim) one by one as the report's walk decodes them, for a car of
// vehicle type rver (a vehicle-info record among them changes it for those after it), and hands
// each decoded record over with its index.
typedef void (*PFNDECODED)(void* pv, size_t irec, VLR const* pvlr);
void DecodeRecords(RECORDS const& recs, size_t irecFirst, size_t irecLim, int rver, PFNDECODED pfn, void* pv);

// "a.b.c d", the firmware version as the report prints it.
std::string StrFirmware(uint32_t versFirmware);
// Whether the time counts as a date for the decoded tables: after 2001, not erased flash, and
// less than 30 days after timestampLastValid.
bool FCredibleTime(uint32_t timestamp, unsigned int timestampLastValid);

// ---- The owner's figures, by the functions the car page uses (analysis/owner.h) -------------------

// What a walk gathers beside its sessions, record by record, as the car page gathers it: the
// battery volts of drive records drawing little current (the pack's resting voltage, which turns a
// parked SOC loss into energy), and the line power and SOC readings of the session open now.
struct OWNERSAMPLE {
    uint32_t timestamp;
    bool fPower;                // kw holds the line power of a charge record
    float kw;
    int pctSOC;                 // -1: none
};
// The resting volts of a drive's records: their sum and how many.
struct RESTVOLTS {
    double voltsSum = 0;
    long cvolts = 0;
};
struct OWNERWALK {
    std::vector<OWNERSAMPLE> rgsample;   // since the last session closed
    RESTVOLTS rest;                      // since the last drive closed
};
void TakeOwnerRecord(OWNERWALK* pwalk, VLR const* pvlr);
// At a drive's close: the resting volts read since the drive before; then the samples up to its
// end go.
RESTVOLTS CloseOwnerDrive(OWNERWALK* pwalk, DRIVESESSION const* pds);
// At a charge's close: its power against SOC, one point per whole percent, as its page draws it;
// then the samples up to its end go.
void CloseOwnerCharge(OWNERWALK* pwalk, CHARGESESSION const* pcs, std::vector<SOCPOWER>* prgsp);

// The figures of the whole history: the parked stretches between the sessions (rgspan in time
// order), the battery's health from the daily figures, and from the hourly status the hours parked
// by SOC and temperature band and the bricks' imbalance per day of the display zone.
struct OWNERFIGURES {
    std::vector<PARKED> rgparked;
    HEALTH health;
    PARKBANDS bands;
    std::vector<IMBALANCE> rgimb;   // by day of the display zone
};
void OwnerFiguresOf(std::vector<SESSIONSPAN> const& rgspan, std::vector<IDLESAMPLE> const& rgidle,
                    std::vector<DAYSAMPLE> const& rgday, double voltsPack, OWNERFIGURES* pfig);
// Sessions as spans, from their ends alone, in time order.
void SpansOf(std::vector<SESSIONSPAN> const& rgspanDrive, std::vector<SESSIONSPAN> const& rgspanCharge,
             std::vector<SESSIONSPAN>* prgspan);
// "2010-01-31": the day of civil seconds.
std::string StrDayOfSecCivil(int64_t secCivilDay);
// The share of a charge's wall energy lost before the battery, in %; pctLossNone without it.
double PctLossOfCharge(CHARGESESSION const* pcs);

// --price: parsed as quenfell-plot parses it; *ppszWhy says what is wrong.
bool FParsePriceOption(char const* psz, PRICE* pprice, char const** ppszWhy);
// What a charge of kwh from the wall cost, from its records' line power in time order.
CHARGECOST CostOfChargePower(PRICE const* pprice, double kwh, std::vector<LINEPOWER> const& rglp);

