// Battery study, reporting half: time-weighted histograms and tables over the collected samples.
#pragma once

#include "battery/collect.h"

void ProcessAllData();
void ProcessData(DataPoint* rg, int c, SECT sect);
void PrintData();
void PrintPermanentData(DataPoint* rg, int c);
void PrintHistogram(const char* title, const char* unit, int* rg, int c, int fTrim);
void ResetData();
