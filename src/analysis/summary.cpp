// PLACEHOLDER until the summary lands.
#include "analysis/summary.h"
void RunSessionSummary(const char*, STREAM*, LOGLAYOUT const*, int, int, int, unsigned int, unsigned int, unsigned int) {}
