// PLACEHOLDER until the time module lands.
#include "support/timecal.h"
#include <cstdio>
unsigned int TimestampFromDate(char const*) { return 0; }
char* DateFromTimestamp(unsigned int, char* buf, int cb) { if (buf && cb > 0) buf[0] = 0; return buf; }
char* PszDSTNote(unsigned int, unsigned int, char*, int) { return nullptr; }
int FUseTimeZone(char const*) { return 0; }
void PrintTimeZoneList() {}
int FSetZonesForTest(char const*) { return 0; }
