// PLACEHOLDER until the command line lands.
#include "driver/options.h"
#include <cstdlib>
void GiveUsageAndExit(const char*, ...) { exit(255); }
unsigned long RtFromSz(const char*) { return 0; }
int QuenfellMain(int, char**) { GiveUsageAndExit(); }
