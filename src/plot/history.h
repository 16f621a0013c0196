// The car's history read from logs and downloads for its page: the drives and charges of the
// default report with their profiles, and from the long-term parts the daily capacity samples,
// firmware changes, errors and tyre pressures. Several inputs are merged as the join merges them,
// in memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/owner.h"
#include "analysis/sessions.h"

struct DRIVEROW {
    DRIVESESSION ds;
    std::vector<PT> rgptSpeed;    // mph, one-second records
    std::vector<PT> rgptPower;    // kW out of the battery, negative while regenerating
    std::vector<PT> rgptSOC;      // %
};

struct CHARGEROW {
    CHARGESESSION cs;
    std::vector<PT> rgptPower;    // kW from the line: line volts times charge amps
    std::vector<PT> rgptAmps;
    std::vector<PT> rgptAmpsAvailable;
    std::vector<PT> rgptTemp;     // highest battery temperature, degrees C
    std::vector<PT> rgptSOC;
    CHARGECOST cost;              // under HISTORY's price
};

struct DAYROW {
    uint32_t timestamp;
    double ahCAC, ahBrickMin, ahBrickAve;
    double milesOdo;              // 0: no reading
};

struct FWCHANGE {
    uint32_t timestamp;
    uint32_t versFirmware;
};

constexpr int cchErrDesc = 80;
struct ERRROW {
    uint32_t timestamp;
    unsigned codeError;
    char szDesc[cchErrDesc];
};

struct TPMSROW {
    uint32_t timestamp;
    float rgpsi[4];
};

// A sample of the open session, kept until it closes.
struct SAMPLE {
    uint32_t timestamp;
    int8_t fCharge;
    int8_t pctSOC;                // -1: none
    float rgv[4];                 // drive: mph, kW; charge: kW, amps, amps available, deg
    uint8_t grf;                  // which of rgv hold a value
};

struct HISTORY {
    std::vector<DRIVEROW> rgdrive;
    std::vector<CHARGEROW> rgcharge;
    std::vector<DAYROW> rgday;          // in time order, one per time
    std::vector<FWCHANGE> rgfw;         // in time order, each a change from the one before
    std::vector<ERRROW> rgerr;
    std::vector<TPMSROW> rgtpms;
    double milesOdoMin = -1, milesOdoMax = -1;   // of the odometer readings in the drives' records
    uint32_t timestampMin = 0, timestampMax = 0; // of the sessions
    int cinput = 0;
    long crecMerged = 0;                // records the merge took (0 for one input)
    std::vector<IDLESAMPLE> rgidle;     // the hourly status of the transient part, in time order
    double voltsPackSum = 0;            // battery volts of drive records near rest, for the parked energy
    long cvoltsPack = 0;
    PRICE price;                        // set before reading: each charge's cost follows it
    std::vector<SAMPLE> rgsample;       // working state while reading
    bool fOutOfMemory = false;          // a step of the reading ran out of memory: the history is not whole
};

// Reads the inputs (plain logs, or downloads named *.tar) into *phist. On failure returns false
// with the reason, "could not find vms_log in 'x'" and the like, in *pstrErr. Nothing is printed.
bool FReadHistory(char const* const* rgpszPath, int cpath, HISTORY* phist, std::string* pstrErr);

// The history that a history database keeps (quenfell-db): its transient records as the joined log
// of its downloads holds them, its long-term records in the order of their time, how many downloads
// it holds and the joined log's records. The page is that of the downloads it holds.
struct HISTORYOFLOGS {
    unsigned char const* pbJoined;
    size_t cbJoined;
    unsigned char const* pbLongTerm;
    size_t cbLongTerm;
    int cdownload;
    long crecJoined;
};
bool FReadHistoryOfLogs(HISTORYOFLOGS const& logs, HISTORY* phist, std::string* pstrErr);
