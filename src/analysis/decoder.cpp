// PLACEHOLDER until the decoder lands.
#include "analysis/decoder.h"
void DecodeVmsFile(const char*, STREAM*, int, int, int, int, int, unsigned int, unsigned int, unsigned int) {}
int FPassesFilter(unsigned int, int, unsigned int, unsigned int, unsigned int) { return 1; }
static PFNNOTES s_pfnNotes;
void SetNotesPrinter(PFNNOTES pfn) { s_pfnNotes = pfn; }
int FPrintNotes(unsigned int a, unsigned int b, int c) { return s_pfnNotes ? s_pfnNotes(a, b, c) : 0; }
