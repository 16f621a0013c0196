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
// study of a few logs costs only what its samples need: the whole capacity reserved at the first
// sample (PvReserveTable), or malloc's memory doubled as it fills when no reservation is had.
struct DPARRAY {
    DataPoint* rg = nullptr;
    int c = 0;
    int cAlloc = 0;
    bool fReserved = false;   // rg is a reservation of cAlloc samples rather than malloc's
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
// Whether the collector could take a record of this part and type now (a PFNWANTS).
int FStudyWantsRecord(void* pvStudy, SECT sect, int rt);

// Samples that a worker prepared from one log, in the order the collector met them, waiting to be
// taken into the study in command-line order (the VIN lines, the order against the previous log's
// last sample and the capacity depend on the logs before). Owns its memory.
struct PENDINGDP {
    DataPoint dp;
    int grfpend;
};
struct SAMPLEBUF {
    STUDY study;               // the log's own limits (-k mark, time limit); its arrays stay empty
    PENDINGDP* rgpend = nullptr;
    int cpend = 0;
    int cpendAlloc = 0;
    char* rgchVIN = nullptr;   // cchVIN bytes for each sample that compares VINs, in order
    int cvin = 0;
    int cchVINAlloc = 0;
    bool fOutOfMemory = false; // samples were lost: the run must end as the study would
    SAMPLEBUF() = default;
    SAMPLEBUF(SAMPLEBUF const&) = delete;
    SAMPLEBUF& operator=(SAMPLEBUF const&) = delete;
    ~SAMPLEBUF();
};

void InitSampleBuf(SAMPLEBUF* pbuf);
// Gives back the buffer's memory; it is empty afterwards.
void FreeSampleBuf(SAMPLEBUF* pbuf);
// Hands pbufFrom's arrays (not its samples) to pbufTo, whose own are freed: memory already
// faulted in is used again by the next download.
void MoveSampleBufMemory(SAMPLEBUF* pbufTo, SAMPLEBUF* pbufFrom);
// The worker's collector (a PFNAGGREGATE with the buffer as its context); the buffer's study takes
// BeginAggregrateSection as the study itself would.
void BufferVlr(void* pvBuf, VLR* pvlr);
int FBufferWantsRecord(void* pvBuf, SECT sect, int rt);
// Takes the prepared samples [ipendFirst, ipendLim) into the study, printing what AggregateVlr
// would have printed for them; *pivin counts the VINs used so far (start at 0).
void TakeBufferedSamples(STUDY* pstudy, SAMPLEBUF const* pbuf, int ipendFirst, int ipendLim, int* pivin);
