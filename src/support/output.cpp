// Report output through one large stdio buffer, with printf-exact fast number formatting.
#include "support/output.h"

#include <charconv>
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

void OutFixed(double value, int prec)
{
    // std::to_chars rounds the exact binary value like glibc's printf; NaN and infinity are rare
    // enough to take printf's own path (their spelling differs).
    char buf[400];
    if (value != value || value - value != 0) {
        printf("%.*f", prec, value);
        return;
    }
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, prec);
    if (res.ec != std::errc()) {
        printf("%.*f", prec, value);
        return;
    }
    fwrite_unlocked(buf, 1, (size_t)(res.ptr - buf), stdout);
}

void OutInt(long value)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    fwrite_unlocked(buf, 1, (size_t)(res.ptr - buf), stdout);
}

void OutUnsigned(unsigned long value)
{
    char buf[24];
    auto res = std::to_chars(buf, buf + sizeof buf, value);
    fwrite_unlocked(buf, 1, (size_t)(res.ptr - buf), stdout);
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
