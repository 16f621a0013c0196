// PLACEHOLDER until the battery collection lands.
#include "battery/collect.h"
DataPoint g_rgDP1[cDP1Max];
int g_cDP1;
DataPoint g_rgDP2[cDP2Max];
int g_cDP2;
char g_achVIN[18];
void BeginAggregrateSection(SECT, unsigned int, unsigned int) {}
void AggregateVlr(VLR*) {}
unsigned int TimestampLastValidBattery() { return 0; }
void ResetCollection() {}
