// The decoded tables of the history database, kept in step with its records: the points of each
// run that changed, the daily figures and events of new long-term records, and the drives and
// charges of the default report from the first change on.
#pragma once

#include <cstdint>
#include <sqlite3.h>
#include <string>
#include <vector>

#include "db/ingest.h"

// Brings the decoded tables up to date after a download's records were written: the transient runs
// of rgbucketChanged changed (or went), recsLongTermNew are its new long-term records, rver is the
// car's vehicle type, timestampLastValid the download's newest credible time. False with the
// message.
bool FDeriveChanged(sqlite3* pdb, std::vector<uint32_t> const& rgbucketChanged, RECORDS const& recsLongTermNew,
                    int rver, unsigned int timestampLastValid, std::string* pstrErr);

// The drives and charges of the records changed from timestampChanged to timestampChangedLast: the
// report's walk starts where a walk over the whole history would be in the same state as at the
// last drive that starts before the change, and goes on until it meets the held sessions again
// past the change (or to the end), replacing those held in between. With timestampChanged 0 the
// walk starts at the history's start.
bool FRecomputeSessions(sqlite3* pdb, uint32_t timestampChanged, uint32_t timestampChangedLast, std::string* pstrErr);

// The owner's figures that depend on no calendar (parked, battery_health, park_bands), worked out
// again from the decoded tables by the functions the car page uses. False with the message.
bool FRecomputeOwnerFigures(sqlite3* pdb, std::string* pstrErr);

// Every drive and charge walked again over the whole history, with their charging curves, and the
// owner's figures from them: what a database of an older version holds once upgraded. False with
// the message.
bool FRecomputeAllOwnerFigures(sqlite3* pdb, std::string* pstrErr);
