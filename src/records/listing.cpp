// PLACEHOLDER until the listing lands.
#include "records/listing.h"
const char* UnitsDistMiKm(int) { return ""; }
const char* UnitsSpeed(int) { return ""; }
const char* UnitsDistFtM(int) { return ""; }
double DistConvertMiles(double m, int) { return m; }
double SpeedConvertMph(double m, int) { return m; }
short DistConvertMeters(short m, int) { return m; }
void PrintVlrHeader(int) {}
void PrintTextHeader(int) {}
void PrintRecordLineStart(unsigned char const*, int, unsigned int, const char*, int) {}
void PrintVlr(int, VLR const*) {}
