// Draws a battery study report as one self-contained HTML page: inline SVG charts and text, no
// script, no external fonts, images or style sheets, so the page opens offline and can be mailed.
#pragma once

#include <string>

#include "plot/studyreport.h"

// Appends the whole page to *pstr. The same report always gives the same bytes.
void WritePage(REPORT const* prep, std::string* pstr);
