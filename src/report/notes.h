// The user's annotation notes: "date<TAB>text" lines shown among records in time order.
#pragma once

#include <cstdint>

#include "support/failure.h"

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

// Appends the file's notes; false with the reason (the run then ends) when the file cannot be read
// or a line is wrong.
bool FLoadAnnotationsFile(NOTES* pnotes, char const* path, FAILURE* pfail);
// Whether PrintNotes would print anything for (timestampPrev, timestampCur].
bool FNotesDue(NOTES const* pnotes, uint32_t timestampPrev, uint32_t timestampCur);
// Prints every note in (timestampPrev, timestampCur], indented.
void PrintNotes(NOTES const* pnotes, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent);
