// The user's annotation notes: "date<TAB>text" lines shown among records in time order.
#pragma once

struct NOTE {
    unsigned int timestamp;
    char* psz;
};

constexpr int cnoteMax = 1000;

// Appends the file's notes; any fault ends the program.
void LoadAnnotationsFile(char const* path);
// Prints every note in (timestampPrev, timestampCur], indented; 1 if at least one was printed.
int FPrintNotesForTimestamp(unsigned int timestampPrev, unsigned int timestampCur, int cchIndent);
// Forgets every note; for tests and fuzz targets.
void ResetNotes();
