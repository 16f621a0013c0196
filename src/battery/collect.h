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

// What the study says as it takes samples in order: the VIN of the first vehicle-info record and
// each change of it (cchVIN characters each; pchVINBefore null for the first), and a sample dropped
// because its table is full. Either may be null.
struct STUDYHOOK {
    void* pv;
    void (*pfnVin)(void* pv, char const* pchVIN, char const* pchVINBefore);
    void (*pfnDropped)(void* pv, SECT sect, uint32_t timestamp, int rt);
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
    STUDYHOOK hook;
    bool fOutOfMemory;                  // a table could not grow: the study takes nothing more
};

// An empty study that tells nobody anything.
void InitStudy(STUDY* pstudy);
void BeginAggregrateSection(STUDY* pstudy, SECT sect, unsigned int timestampFirstValid,
                            unsigned int timestampLastValid);
// The collector (a PFNAGGREGATE with the study as its context).
void AggregateVlr(void* pvStudy, VLR* pvlr);
// The record types of this part the collector could take now (a PFNWANTS).
uint32_t GrfRtStudyWants(void* pvStudy, SECT sect);

// Samples that a worker prepared from one log, in the order the collector met them, waiting to be
// taken into the study in command-line order (the VIN lines, the order against the previous log's
// last sample and the capacity depend on the logs before). They go over in batches of a fixed
// size, so that what waits to be taken stays small however many samples a log holds.
struct PENDINGDP {
    DataPoint dp;
    int grfpend;
};
constexpr int cpendBatch = 4096;
constexpr int cvinBatch = 64;
struct SAMPLEBATCH {
    PENDINGDP rgpend[cpendBatch];
    char rgchVIN[cvinBatch * cchVIN];   // cchVIN bytes for each sample that compares VINs, in order
    int cpend;
    int cvin;
    int fTableFullBefore;               // the section scan's message comes before these samples
};

// Hands batch ibatch (a count from 0 for the log) to whoever takes the samples, and returns when
// the batch after it may be filled: true, or false when no more are wanted (the run stopped).
typedef bool (*PFNHANDOVER)(void* pv, int ibatch);

// A worker's collector of one log: two batches filled in turn, each handed over when it is full.
// Owns its memory.
constexpr int cbatchSampleBuf = 2;
struct SAMPLEBUF {
    STUDY study;                        // the log's own limits (-k mark, time limit); its arrays stay empty
    SAMPLEBATCH* rgbatch = nullptr;     // cbatchSampleBuf batches
    int ibatch = 0;                     // batches handed over; rgbatch[ibatch % cbatchSampleBuf] fills
    PFNHANDOVER pfnHandOver = nullptr;
    void* pvHandOver = nullptr;
    bool fStopped = false;              // a hand-over was refused: the samples since are dropped
    bool fOutOfMemory = false;          // no room for the batches: the run must end as the study would
    SAMPLEBUF() = default;
    SAMPLEBUF(SAMPLEBUF const&) = delete;
    SAMPLEBUF& operator=(SAMPLEBUF const&) = delete;
    ~SAMPLEBUF();
};

// Makes the buffer empty for a new log, handing its batches to pfnHandOver with pv.
void InitSampleBuf(SAMPLEBUF* pbuf, PFNHANDOVER pfnHandOver, void* pv);
// Gives back the buffer's memory; it is empty afterwards.
void FreeSampleBuf(SAMPLEBUF* pbuf);
// Hands pbufFrom's batches (not their samples) to pbufTo, whose own are freed: memory already
// faulted in is used again by the next download.
void MoveSampleBufMemory(SAMPLEBUF* pbufTo, SAMPLEBUF* pbufFrom);
// The batch being filled.
SAMPLEBATCH* PbatchFilling(SAMPLEBUF* pbuf);
// Hands over the batch being filled unless it is empty (no samples, no message); false when the
// run stopped or had no memory for its batches.
bool FHandOverSamples(SAMPLEBUF* pbuf);
// The worker's collector (a PFNAGGREGATE with the buffer as its context); the buffer's study takes
// BeginAggregrateSection as the study itself would.
void BufferVlr(void* pvBuf, VLR* pvlr);
uint32_t GrfRtBufferWants(void* pvBuf, SECT sect);
// Takes a batch's samples into the study, telling its hook what AggregateVlr would have told it.
void TakeSampleBatch(STUDY* pstudy, SAMPLEBATCH const* psbatch);
