// The decoded tables of the history database, kept in step with its records: the points of each
// run that changed, the daily figures and events of new long-term records, and the drives and
// charges of the default report from the first change on.
#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "db/ingest.h"

// A transient run that a download changed, as it is now (no records: the run is gone).
struct CHANGEDRUN {
    uint32_t bucket;
    RECORDS recs;
};

// Brings the decoded tables up to date after a download's records were written: rver is the car's
// vehicle type, timestampLastValid the download's newest credible time. False with the message.
bool FDeriveChanged(sqlite3* pdb, std::vector<CHANGEDRUN> const& rgchanged, RECORDS const& recsLongTermNew, int rver,
                    unsigned int timestampLastValid, std::string* pstrErr);

// The drives and charges from the walk that starts where the report's walk over the whole history
// would be in the same state as at the last drive that starts before timestampChanged, replacing
// those held from that drive on. With timestampChanged 0 the whole history is walked.
bool FRecomputeSessions(sqlite3* pdb, uint32_t timestampChanged, std::string* pstrErr);
