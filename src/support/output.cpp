// Report output through one large stdio buffer.
#include "support/output.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "support/retry.h"

namespace {
// 256 KiB: four pipe buffers a write. Each of its pages faults the first time it fills, and on a
// virtual machine a fault costs as much as a write call, so a larger buffer cost a short report
// more than it saved a long listing (1 MiB: the default report of a 64 MiB log 5% slower).
constexpr size_t cbOutputBuffer = 1 << 18;
char s_rgchOutput[cbOutputBuffer];
FILE* s_pfileOutput;   // standard output's stream of ours, once made
int s_errOutput;       // why its first write failed, 0 while none has
bool s_fFailedBlock;   // a block written past the buffer failed
// The calling thread's own output, or null: one per thread, not per process.
thread_local OUTBUF* s_poutbufThread;

void AppendOutBuf(OUTBUF* poutbuf, char const* pch, size_t cch)
{
    if (poutbuf->fFailed)
        return;
    if (cch > poutbuf->cchMax - poutbuf->cch) {
        size_t cchMax = poutbuf->cchMax < 4096 ? 4096 : poutbuf->cchMax;
        while (cchMax - poutbuf->cch < cch)
            cchMax *= 2;
        char* pchNew = (char*)realloc(poutbuf->pch, cchMax);
        if (!pchNew) {
            poutbuf->fFailed = true;
            return;
        }
        poutbuf->pch = pchNew;
        poutbuf->cchMax = cchMax;
    }
    memcpy(poutbuf->pch + poutbuf->cch, pch, cch);
    poutbuf->cch += cch;
}

// stdio takes any count short of cb as a failure; the reason is kept for the message.
ssize_t CookieWriteOutput(void*, char const* pch, size_t cb)
{
    if (FWriteAll(STDOUT_FILENO, pch, cb))
        return (ssize_t)cb;
    if (s_errOutput == 0)
        s_errOutput = errno;
    return 0;
}

int CookieCloseOutput(void*)
{
    return 0;
}

}   // namespace

// Standard output becomes a stream of ours over descriptor 1, since the library's own loses its
// buffer to a write that a signal interrupts; it stays what it was when none can be made.
void InitOutput()
{
    if (s_pfileOutput != nullptr)
        return;
    fflush(stdout);
    cookie_io_functions_t io = {nullptr, CookieWriteOutput, nullptr, CookieCloseOutput};
    s_pfileOutput = fopencookie(nullptr, "w", io);
    if (s_pfileOutput != nullptr)
        stdout = s_pfileOutput;
    setvbuf(stdout, s_rgchOutput, _IOFBF, cbOutputBuffer);
}

int FFlushOutput()
{
    return fflush(stdout) == 0 && !ferror(stdout) && !s_fFailedBlock;
}

int ErrOutput()
{
    return s_errOutput;
}

void PrintSectionTitle(const char* title)
{
    size_t cch = strlen(title);
    fwrite_unlocked(title, 1, cch, stdout);
    putc_unlocked('\n', stdout);
    for (size_t i = 0; i < cch; i++)
        putc_unlocked('=', stdout);
    fputs_unlocked("\n\n", stdout);
}

void SetThreadOutput(OUTBUF* poutbuf)
{
    s_poutbufThread = poutbuf;
}

void FreeOutBuf(OUTBUF* poutbuf)
{
    free(poutbuf->pch);
    *poutbuf = OUTBUF{};
}

void OutSz(const char* sz)
{
    if (OUTBUF* poutbuf = s_poutbufThread) {
        AppendOutBuf(poutbuf, sz, strlen(sz));
        return;
    }
    fputs_unlocked(sz, stdout);
}

void OutCch(const char* pch, size_t cch)
{
    if (OUTBUF* poutbuf = s_poutbufThread) {
        AppendOutBuf(poutbuf, pch, cch);
        return;
    }
    fwrite_unlocked(pch, 1, cch, stdout);
}

void OutBlock(const char* pch, size_t cch)
{
    if (s_poutbufThread || s_pfileOutput == nullptr || stdout != s_pfileOutput || cch < cbOutputBuffer / 4) {
        OutCch(pch, cch);
        return;
    }
    // What the buffer holds goes first; a failure of its write is the stream's own, as any.
    fflush(stdout);
    if (!FWriteAll(STDOUT_FILENO, pch, cch)) {
        if (s_errOutput == 0)
            s_errOutput = errno;
        s_fFailedBlock = true;
    }
}

void OutChar(char ch)
{
    if (OUTBUF* poutbuf = s_poutbufThread) {
        AppendOutBuf(poutbuf, &ch, 1);
        return;
    }
    putc_unlocked(ch, stdout);
}
