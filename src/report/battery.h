// The battery study's report: the messages of the collection as it goes, then time-weighted
// histograms and tables over the collected samples, comma-separated on standard output.
#pragma once

#include "battery/collect.h"

constexpr int cHistAmps = 500;
constexpr int cHistSOC = 101;
constexpr int cHistTempMax = 200;
constexpr int cHistMilesOdo = 500;
constexpr int cHistDailyMiles = 1000;
constexpr int cHistDays = 7300;

// What the passes over the samples build for the report; zero-initialised ({}) before the first pass.
struct HISTOGRAMS {
    int rgHistAmps[cHistAmps];
    int rgHistSOC[cHistSOC];
    int rgHistTempMax[cHistTempMax];
    int rgHistMilesOdo[cHistMilesOdo];
    int rgHistDailyMiles[cHistDailyMiles];
    int rgHistDays[cHistDays];
    int nMilesOdoMax;
    int nTimeStampMin;
    int nTimeStampMax;
    int nTimeStampMin2;
    int nTimeStampMax2;
    unsigned int timestampLastValid;   // the newest credible time of the last log collected
};

// The hook that prints the collection's messages ("VIN: ...", "mismatched VINs", "L drop", "T skip").
STUDYHOOK StudyHookOfReport();

// The whole report of the study: both passes, then every table, on standard output.
void ProcessAllData(STUDY const* pstudy);
void ProcessData(HISTOGRAMS* phist, DataPoint const* rg, int c, SECT sect);
void PrintData(HISTOGRAMS const* phist, STUDY const* pstudy);
void PrintPermanentData(DataPoint const* rg, int c);
void PrintHistogram(const char* title, const char* unit, int const* rg, int c, int fTrim);
