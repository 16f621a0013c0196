// What leaves the history database as files: the joined log of the whole history, and every table
// as a CSV file. Both go through the safe output path: a file appears whole or not at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "analysis/owner.h"
#include "db/schema.h"

// Writes the transient history from its first vehicle-info record on: byte for byte the log that
// `quenfell -j` writes for the downloads added. *pcrec counts its records. False with the message.
bool FWriteJoinedLog(HISTDB* phdb, char const* pszOutput, long* pcrec, std::string* pstrErr);

// The whole history as two logs, for a reader that decodes it again (the car page): the transient
// records as the joined log holds them, every long-term record in the order of its time, and how
// many downloads were added. False with the message.
struct HISTORYLOGS {
    std::vector<uint8_t> rgbJoined;
    long crecJoined = 0;
    std::vector<uint8_t> rgbLongTerm;
    int cdownload = 0;
};
bool FReadHistoryLogs(HISTDB* phdb, HISTORYLOGS* plogs, std::string* pstrErr);

// Writes one CSV file per table and view into pszDir (made when missing): RFC 4180 with a header
// row, UTF-8, each time as an ISO 8601 date in the display zone followed by its UTC seconds. With a
// price given, also charge_costs (each charge's cost, CostOfCharge) and a cost column in months
// and years. *pcfile counts the files. False with the message.
bool FWriteCsvFiles(HISTDB* phdb, char const* pszDir, PRICE const* pprice, int* pcfile, std::string* pstrErr);

// "2010-01-06T07:26:55-08:00": the time in the display zone with its offset from UTC, or "" for a
// time that is no date (before 2001).
std::string StrIsoDate(long long timestamp);
// The field as RFC 4180 writes it: in double quotes, doubled inside, when it holds a comma, a
// quote or a line end; bytes that are not UTF-8 become U+FFFD.
std::string StrCsvField(std::string const& str);
