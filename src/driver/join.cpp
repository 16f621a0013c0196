// PLACEHOLDER until the join lands.
#include "driver/join.h"
void GetLogStats(STREAM*, LSTAT*) {}
int _CmpLstat(unsigned int, unsigned int, void*) { return -1; }
void JoinLogs(LSTAT*, int, const char*) {}
