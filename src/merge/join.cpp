// The join into a file: the preview, a refusal of an output that is one of the inputs, and the
// merge written through a temporary file that replaces the output only when complete and sound.
#include "merge/join.h"

#include <cstring>
#include <sys/stat.h>

#include "support/outfile.h"

namespace {

// The inputs stay mapped while the output is written: writing over one of them would destroy it.
bool FOutputIsAnInput(JOININ const* rgin, int cin, const char* pszOutput)
{
    struct stat stOut;
    if (stat(pszOutput, &stOut) != 0)
        return false;
    for (int i = 0; i < cin; i++) {
        struct stat stIn;
        if (stat(rgin[i].pszName, &stIn) == 0 && stIn.st_dev == stOut.st_dev && stIn.st_ino == stOut.st_ino)
            return true;
    }
    return false;
}

bool FWriteJoinOutput(void* pvOut, unsigned char const* pb, int cb)
{
    // A failed write is kept for the commit to report; the merge goes on to its end.
    WriteOutFile((OUTFILE*)pvOut, pb, (size_t)cb);
    return true;
}

// An input cut short while it was read gave zeros for the missing bytes: the merge of them must
// not replace the output.
JOININ const* PinChanged(JOININ const* rgin, int cin)
{
    for (int i = 0; i < cin; i++) {
        if (rgin[i].pstream->FChanged())
            return &rgin[i];
    }
    return nullptr;
}

}   // namespace

bool FJoinLogs(SCANSTATE* pscan, JOINTABLE* pjoin, const char* pszOutput, PFNPREVIEW pfnPreview,
               MERGEHOOK const* phook, PFNREADY pfnReady, long* pcwritten, FAILURE* pfail)
{
    JOININ* rgin = pjoin->rgin;
    int const cin = pjoin->cin;
    SortJoinInputs(rgin, cin);
    if (!FPreviewSortedJoin(rgin, cin, pfnPreview, phook ? phook->pv : nullptr)) {
        SetFailure(pfail, "out of memory");
        return false;
    }
    if (FOutputIsAnInput(rgin, cin, pszOutput)) {
        SetFailure(pfail, "output file '%s' is also an input", pszOutput);
        return false;
    }

    // The joined log takes the output's place only when complete, so a failed join never leaves a
    // truncated log under the output's name (a pipe or device is written as the merge goes).
    OUTFILE outfile;
    int err = ErrOpenOutFile(&outfile, pszOutput);
    if (err != 0) {
        SetFailure(pfail, "can't open file '%s' for writing. %s.", pszOutput, strerror(err));
        return false;
    }
    long cwritten = CrecMergeSortedLogs(pscan, rgin, cin, phook, FWriteJoinOutput, &outfile);
    if (cwritten < 0) {
        AbandonOutFile(&outfile);
        SetFailure(pfail, "out of memory");
        return false;
    }
    if (JOININ const* pin = PinChanged(rgin, cin)) {
        AbandonOutFile(&outfile);
        SetFailure(pfail, "file '%s' changed while it was being read.", pin->pszName);
        return false;
    }
    if (pfnReady && !pfnReady(phook ? phook->pv : nullptr, pfail)) {
        AbandonOutFile(&outfile);
        return false;
    }
    err = ErrCommitOutFile(&outfile);
    if (err != 0) {
        SetFailure(pfail, "can't write file '%s'. %s.", pszOutput, err > 0 ? strerror(err) : "write error");
        return false;
    }
    for (int i = 0; i < cin; i++) {
        delete rgin[i].pstream;
        rgin[i].pstream = nullptr;
    }
    pjoin->cin = 0;
    *pcwritten = cwritten;
    return true;
}
