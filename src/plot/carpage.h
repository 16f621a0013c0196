// Draws the car's history as one self-contained HTML page: overview, calendar, drives and charges
// (each opening to its profile), efficiency, battery and events. Inline SVG and CSS, no script,
// nothing loaded from elsewhere.
#pragma once

#include <string>

#include "plot/history.h"

// Appends the page to *pstr: distances and speeds in kilometres when fMetric, times in the display
// zone, written as the default report writes them.
void WriteCarPage(HISTORY const* phist, int fMetric, std::string* pstr);

// The points each profile series may keep on a page with csession drives and charges, so that a
// long history still gives a page of a few megabytes.
int CptProfileBudget(int csession);
