// PLACEHOLDER until the section table lands.
#include "analysis/sections.h"
void BuildLogLayout(STREAM*, LOGLAYOUT* p, int, int) { p->csec = 0; p->isecOldest = p->isecFirstTransient = -1; }
void BeginRingWalk(LOGLAYOUT const*, RINGWALK* w) { w->fDone = 1; }
int FNextRingRecord(STREAM*, LOGLAYOUT const*, RINGWALK*, long*, int*) { return 0; }
long IbEndLongTerm(LOGLAYOUT const* p) { return p->cbFile; }
