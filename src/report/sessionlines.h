// The session summary's lines, for the report's consumer.
#pragma once

#include "analysis/consumer.h"
#include "report/report.h"

void PrintSummaryHeader(REPORTER const* prep);
void PrintDriveLine(REPORTER const* prep, DRIVESESSION const* pds);
void PrintChargeLine(REPORTER const* prep, CHARGESESSION const* pcs);
// "end charge segment" and the CGSEG line.
void PrintSegmentLine(CHARGESEGMENT const* pseg);
void PrintSummaryNote(SUMMARYNOTE snote, uint32_t timestamp, int pctSOC);
void PrintTotals(REPORTER const* prep, SUMMARYTOTALS const* ptotals);
// "Approximate CAC: ..."
void PrintCapacity(double ahCAC, uint32_t timestamp);
