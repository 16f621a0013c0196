// The user's annotation notes: "date<TAB>text" lines shown among records in time order.
#pragma once

struct NOTE {
    unsigned int timestamp;
    char* psz;
};

constexpr int cnoteMax = 1000;

// The notes of every -n file of a run, in file order; owns the texts.
struct NOTES {
    NOTE rgnote[cnoteMax];
    int cnote = 0;
    NOTES() = default;
    NOTES(NOTES const&) = delete;
    NOTES& operator=(NOTES const&) = delete;
    ~NOTES();
};

// Appends the file's notes; any fault ends the program.
void LoadAnnotationsFile(NOTES* pnotes, char const* path);
// Prints every note in (timestampPrev, timestampCur], indented; 1 if at least one was printed.
// pvNotes is the NOTES (the run's notes hook).
int FPrintNotesForTimestamp(void* pvNotes, unsigned int timestampPrev, unsigned int timestampCur, int cchIndent);
