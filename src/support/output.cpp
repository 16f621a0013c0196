// Report output through one large stdio buffer.
#include "support/output.h"

#include <cstring>

namespace {
constexpr size_t cbOutputBuffer = 1 << 20;
char s_rgchOutput[cbOutputBuffer];
}

void InitOutput()
{
    setvbuf(stdout, s_rgchOutput, _IOFBF, cbOutputBuffer);
}

int FFlushOutput()
{
    return fflush(stdout) == 0 && !ferror(stdout);
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

void OutSz(const char* sz)
{
    fputs_unlocked(sz, stdout);
}

void OutCch(const char* pch, size_t cch)
{
    fwrite_unlocked(pch, 1, cch, stdout);
}

void OutChar(char ch)
{
    putc_unlocked(ch, stdout);
}
