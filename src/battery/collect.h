// Battery study, collecting half: compact samples of the records that matter, over every log.
#pragma once

#include <cstdint>

#include "records/record.h"

struct DataPoint {
    int32_t sect;
    int32_t rt;
    int32_t timestamp;
    int32_t pctSOC;
    double ahBrickAve;
    double ahBrickMin;
    double ahCAC;
    int32_t iBrickAhMin;
    int32_t degESSMin;
    int32_t degESSMax;
    int32_t milesOdo;
    int32_t ampsCharge;
    uint32_t versFirmware;
};

constexpr int cDP1Max = 7300;
constexpr int cDP2Max = 10512000;

extern DataPoint g_rgDP1[cDP1Max];
extern int g_cDP1;
extern DataPoint g_rgDP2[cDP2Max];
extern int g_cDP2;
extern char g_achVIN[18];

void BeginAggregrateSection(SECT sect, unsigned int timestampFirstValid, unsigned int timestampLastValid);
void AggregateVlr(VLR* pvlr);
// The newest credible timestamp last handed to BeginAggregrateSection.
unsigned int TimestampLastValidBattery();
// Empties the arrays and forgets the VIN; for tests and fuzz targets.
void ResetCollection();
