// Battery study, collecting half: compact samples of the records that matter, over every log.
#pragma once

#include <cstdint>

#include "records/record.h"

struct DataPoint {
    int32_t sect;
    int32_t rt;
    int32_t timestamp;
    int32_t pctSOC;
    double ahBrickAve;
    double ahBrickMin;
    double ahCAC;
    int32_t iBrickAhMin;
    int32_t degESSMin;
    int32_t degESSMax;
    int32_t milesOdo;
    int32_t ampsCharge;
    uint32_t versFirmware;
};

constexpr int cDP1Max = 7300;
constexpr int cDP2Max = 10512000;

// Samples in time order, in memory that grows as they come (up to a fixed capacity), so that a
// study of a few logs costs only what its samples need.
struct DPARRAY {
    DataPoint* rg = nullptr;
    int c = 0;
    int cAlloc = 0;
    DPARRAY() = default;
    DPARRAY(DPARRAY const&) = delete;
    DPARRAY& operator=(DPARRAY const&) = delete;
    ~DPARRAY();
};

// The battery study of one run: the samples of every log handed to it, and what the collector
// carries from record to record. Created empty by its owner, for the whole command line.
struct STUDY {
    DPARRAY dp1;                        // long-term samples (daily status, vehicle info), at most cDP1Max
    DPARRAY dp2;                        // transient samples, at most cDP2Max
    char achVIN[18];                    // the VIN of the first vehicle-info record; empty before it
    unsigned int timestampFirstValid;   // -k mark: while non-zero, long-term records before it are dropped
    unsigned int timestampLastValid;    // the newest credible time of the log being collected
    unsigned int grfRtTransientKept;    // the transient record types the study keeps
};

void InitStudy(STUDY* pstudy);
void BeginAggregrateSection(STUDY* pstudy, SECT sect, unsigned int timestampFirstValid,
                            unsigned int timestampLastValid);
// The collector (a PFNAGGREGATE with the study as its context).
void AggregateVlr(void* pvStudy, VLR* pvlr);
