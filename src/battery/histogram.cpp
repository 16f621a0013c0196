// PLACEHOLDER until the battery report lands.
#include "battery/histogram.h"
void ProcessAllData() {}
void ProcessData(DataPoint*, int, SECT) {}
void PrintData() {}
void PrintPermanentData(DataPoint*, int) {}
void PrintHistogram(const char*, const char*, int*, int, int) {}
void ResetData() {}
