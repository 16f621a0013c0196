// The user's annotation notes: "date<TAB>text" lines loaded from -n files while the command line
// is read, and printed in their place among the records as the walks move forward in time.
#include "report/notes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <sys/stat.h>

#include "support/timecal.h"

namespace {

// fgets reads at most 1023 characters at a time: a longer line arrives in pieces, and each piece
// is a line of its own for the line numbers and the format.
constexpr int cchLineBuffer = 1024;
constexpr int cchDate = 20;

struct FILECLOSE {
    void operator()(FILE* pfile) const { fclose(pfile); }
};

}   // namespace

bool FLoadAnnotationsFile(NOTES* pnotes, char const* path, FAILURE* pfail)
{
    std::unique_ptr<FILE, FILECLOSE> pfileOwned(fopen(path, "r"));
    FILE* pfile = pfileOwned.get();
    // A folder opens for reading but yields no line: say so instead of loading nothing. (A pipe is
    // fine: notes may come from another program.)
    struct stat st;
    if (pfile && fstat(fileno(pfile), &st) == 0 && S_ISDIR(st.st_mode)) {
        pfileOwned.reset();
        pfile = nullptr;
        errno = EISDIR;
    }
    if (!pfile) {
        SetFailure(pfail, "can't open annotation file: '%s' %s.\n", path, strerror(errno));
        return false;
    }

    char szLine[cchLineBuffer];
    for (int iLine = 1; fgets(szLine, sizeof szLine, pfile); iLine++) {
        // fgets stops only at a line feed: a NUL byte inside the line ends the text early, and
        // strchr never looks past the first NUL, so nothing beyond the buffer is touched. fgets
        // returned at least one byte, so a line is empty only when that byte is the line feed: a
        // run of NUL bytes is text without a tab, or /dev/zero would be read for ever.
        if (szLine[0] == '\n')
            continue;
        char* pchLineFeed = strchr(szLine, '\n');
        if (pchLineFeed)
            *pchLineFeed = '\0';

        char* pchTab = strchr(szLine, '\t');
        if (!pchTab) {
            SetFailure(pfail, "'%s(%d)' missing tab between date and note\n", path, iLine);
            return false;
        }
        if (pnotes->cnote >= cnoteMax) {
            SetFailure(pfail, "'%s(%d)' too many notes in annotation file!\n", path, iLine);
            return false;
        }
        *pchTab = '\0';
        unsigned int timestamp = TimestampFromDate(szLine);
        if (timestamp == 0) {
            SetFailure(pfail, "'%s(%d)' invalid date string: %s\n", path, iLine, szLine);
            return false;
        }
        char* pszText = strdup(pchTab + 1);
        if (!pszText) {
            SetFailure(pfail, "'%s(%d)' out of memory\n", path, iLine);
            return false;
        }
        pnotes->rgnote[pnotes->cnote].timestamp = timestamp;
        pnotes->rgnote[pnotes->cnote].psz = pszText;
        pnotes->cnote++;
    }
    return true;
}

bool FNotesDue(NOTES const* pnotes, uint32_t timestampPrev, uint32_t timestampCur)
{
    for (int inote = 0; inote < pnotes->cnote; inote++) {
        NOTE const& note = pnotes->rgnote[inote];
        if (note.timestamp > timestampCur)
            return false;
        if (note.timestamp > timestampPrev)
            return true;
    }
    return false;
}

void PrintNotes(NOTES const* pnotes, uint32_t timestampPrev, uint32_t timestampCur, int cchIndent)
{
    // The table keeps file order: the walk stops at the first note past the window, so notes
    // that stand after a later-dated one wait until the window reaches that one.
    for (int inote = 0; inote < pnotes->cnote; inote++) {
        NOTE const& note = pnotes->rgnote[inote];
        if (note.timestamp > timestampCur)
            break;
        if (note.timestamp <= timestampPrev)
            continue;
        char szDate[cchDate];
        printf("%*s%s  (NOTE)  %s\n", cchIndent, "", DateFromTimestamp(note.timestamp, szDate, sizeof szDate),
               note.psz);
    }
}

NOTES::~NOTES()
{
    for (int inote = 0; inote < cnote; inote++)
        free(rgnote[inote].psz);
}
