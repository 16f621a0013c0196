// The car's records in the history database and the adding of one download to them.
//
// The transient records are kept as the join would write them for every download added so far, in
// its order, cut into runs by time: a run (a row of `records`) holds the records whose lead time
// falls in one bucket of 4096 seconds, where a record's lead time is the newest time of it and all
// the records before it. Lead times never fall along the history, and the join only ever puts a
// download's records among the held ones by them, so adding a download changes only the runs of
// the buckets where it holds something new: those runs are merged with its records there by the
// join's own merge and written back. A bucket where the download holds exactly what is held (same
// count, same digest) is left alone without reading it. Long-term records are kept once each, by
// bucket of their own time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/ingest.h"
#include "db/schema.h"

constexpr int cbitBucket = 12;
constexpr uint32_t secBucket = 1u << cbitBucket;
// records.id: part * 2^20 + bucket, so that each part's runs follow one another in time.
constexpr int64_t cbucketPart = 1 << (32 - cbitBucket);
inline int64_t IdRun(int part, uint32_t bucket) { return (int64_t)part * cbucketPart + bucket; }

// What adding one download did, for its line.
struct ADDED {
    bool fAlreadyAdded = false;       // the same bytes were added before, as strNameBefore
    std::string strNameBefore;
    int64_t timestampAddedBefore = 0;
    uint32_t timestampFirst = 0, timestampLast = 0;   // what it covers; 0 when it holds no dated record
    long crec = 0;                    // records it holds (both parts)
    long crecNew = 0;
    long crecHeld = 0;
    long crecSkipped = 0;             // records the join passes over
    long cconflict = 0;               // records held with other bytes (the held copy is kept)
};

// Told of each step while a download is added; "writing" comes inside the download's transaction,
// after its records are written and before they are committed.
typedef void (*PFNSTEP)(void* pv, char const* szStep);

enum ADDRESULT {
    addDone,      // added, or found added before (ADDED says which)
    addRefused,   // the download cannot be read, or is of another car: the next one may do
    addFailed,    // the database cannot be changed (a full disk, a lock held too long)
};
// Adds the download (a log or a *.tar) in one transaction. Unless it is done, *pstrErr says why;
// the database is then as it was.
ADDRESULT AddDownload(HISTDB* phdb, char const* pszPath, PFNSTEP pfnStep, void* pvStep, ADDED* padded,
                      std::string* pstrErr);

// The bytes of the runs of one part, in order, from bucket bucketFirst on; pfn returns false to
// stop. False with the message when the database cannot be read.
typedef bool (*PFNRUN)(void* pv, uint32_t bucket, uint8_t const* pb, size_t cb);
bool FReadRuns(sqlite3* pdb, int part, uint32_t bucketFirst, PFNRUN pfn, void* pv, std::string* pstrErr);
// The same backwards, from bucketLast down.
bool FReadRunsBackwards(sqlite3* pdb, int part, uint32_t bucketLast, PFNRUN pfn, void* pv, std::string* pstrErr);
