// PLACEHOLDER until the scanner lands.
#include "records/scanner.h"
int FScanToRecord(STREAM*, long*, long, int*) { return 0; }
void ScanRecordFromFile(STREAM*, long, unsigned long, int, VLR*) {}
void ScanRecord(unsigned char const*, int, int, VLR*) {}
void SetAggregateHook(PFNAGGREGATE) {}
