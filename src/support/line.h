// LINE: one line of output assembled in a local buffer with printf's exact formatting, and written
// to standard output in one piece (also when the buffer fills). The listing builds every record
// line with it and the session summary its drive and charge lines.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "support/output.h"

class LINE {
public:
    LINE() : cch(0) {}
    ~LINE() { Flush(); }
    LINE(LINE const&) = delete;
    LINE& operator=(LINE const&) = delete;

    void Ch(char ch)
    {
        Reserve(1);
        rgch[cch++] = ch;
    }

    void Cch(const char* pch, size_t cchAdd)
    {
        if (cchAdd > sizeof rgch / 2) {
            Flush();
            OutCch(pch, cchAdd);
            return;
        }
        Reserve(cchAdd);
        memcpy(rgch + cch, pch, cchAdd);
        cch += cchAdd;
    }

    void Sz(const char* sz) { Cch(sz, strlen(sz)); }

    // ctab tabs: a store of a fixed cchTabsMax of them, of which ctab are kept.
    static constexpr int cchTabsMax = 48;
    void Tabs(int ctab)
    {
        static constexpr char s_rgchTabs[cchTabsMax + 1] = "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t"
                                                            "\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t\t";
        for (; ctab > cchTabsMax; ctab -= cchTabsMax)
            Tabs(cchTabsMax);
        Reserve(cchTabsMax);
        memcpy(rgch + cch, s_rgchTabs, cchTabsMax);
        cch += (size_t)ctab;
    }

    // printf "%*s" (right-aligned) and "%-*s" (left-aligned).
    void SzRight(const char* sz, int cchWidth)
    {
        size_t cchSz = strlen(sz);
        Pad(cchSz, cchWidth);
        Cch(sz, cchSz);
    }

    void SzLeft(const char* sz, int cchWidth)
    {
        size_t cchSz = strlen(sz);
        Cch(sz, cchSz);
        Pad(cchSz, cchWidth);
    }

    // printf "%.*f".
    void Fixed(double value, int prec)
    {
        Reserve(cchNumberMax);
        if (FFixedExact(value, prec))
            return;
        std::to_chars_result res{};
        if (value == value && value - value == 0)
            res = std::to_chars(rgch + cch, rgch + sizeof rgch, value, std::chars_format::fixed, prec);
        else
            res.ec = std::errc::invalid_argument;
        if (res.ec == std::errc()) {
            cch = (size_t)(res.ptr - rgch);
            return;
        }
        // Infinities and NaN: printf's own spelling.
        int cchOut = snprintf(rgch + cch, sizeof rgch - cch, "%.*f", prec, value);
        if (cchOut > 0)
            cch += (size_t)cchOut < sizeof rgch - cch ? (size_t)cchOut : sizeof rgch - cch - 1;
    }

    // printf "%.*f" for the values a log holds (below 2^63, precision up to 9), from the exact
    // binary value: m * 2^e scaled by 10^prec in 128-bit integers and rounded half to even, as
    // printf rounds. False for anything else, which to_chars takes.
    bool FFixedExact(double value, int prec)
    {
        static const uint64_t s_rgPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000,
                                             1000000000};
        if (prec < 0 || prec > 9)
            return false;
        uint64_t bits;
        memcpy(&bits, &value, sizeof bits);
        int exp = (int)((bits >> 52) & 0x7FF);
        if (exp == 0x7FF)
            return false;
        uint64_t m = bits & ((1ull << 52) - 1);
        int e = -1074;
        if (exp != 0) {
            m |= 1ull << 52;
            e = exp - 1075;
        }
        if (e > 10)
            return false;
        uint64_t pow10 = s_rgPow10[prec];
        unsigned __int128 q;
        if (e >= 0) {
            q = (unsigned __int128)(m << e) * pow10;
        } else {
            int s = -e;
            unsigned __int128 n = (unsigned __int128)m * pow10;   // below 2^83
            if (s >= 19 && s < 64) {
                // The usual figure: the quotient fits 64 bits and so do the bits shifted out.
                uint64_t lo = (uint64_t)n;
                uint64_t q64 = (lo >> s) | ((uint64_t)(n >> 64) << (64 - s));
                uint64_t r = lo & ((1ull << s) - 1);
                uint64_t half = 1ull << (s - 1);
                if (r > half || (r == half && (q64 & 1)))
                    q64++;
                q = q64;
            } else if (s >= 84) {
                q = 0;   // below one half: rounds to zero, never a tie
            } else {
                q = n >> s;
                unsigned __int128 r = n & ((((unsigned __int128)1) << s) - 1);
                unsigned __int128 half = ((unsigned __int128)1) << (s - 1);
                if (r > half || (r == half && (q & 1)))
                    q++;
            }
        }
        uint64_t intpart, fracpart;
        if (q >> 64 == 0) {
            // Constant divisors become multiplications.
            switch (prec) {
            case 0: intpart = (uint64_t)q; fracpart = 0; break;
            case 1: intpart = (uint64_t)q / 10; fracpart = (uint64_t)q % 10; break;
            case 2: intpart = (uint64_t)q / 100; fracpart = (uint64_t)q % 100; break;
            case 3: intpart = (uint64_t)q / 1000; fracpart = (uint64_t)q % 1000; break;
            default: intpart = (uint64_t)q / pow10; fracpart = (uint64_t)q % pow10; break;
            }
        } else {
            intpart = (uint64_t)(q / pow10);
            fracpart = (uint64_t)(q % pow10);
        }
        char* pch = rgch + cch;
        if (bits >> 63)
            *pch++ = '-';
        // Most figures of a log are below 1000: their digits without the library's length loop.
        if (intpart < 10) {
            *pch++ = (char)('0' + intpart);
        } else if (intpart < 100) {
            pch[0] = (char)('0' + intpart / 10);
            pch[1] = (char)('0' + intpart % 10);
            pch += 2;
        } else if (intpart < 1000) {
            pch[0] = (char)('0' + intpart / 100);
            pch[1] = (char)('0' + intpart / 10 % 10);
            pch[2] = (char)('0' + intpart % 10);
            pch += 3;
        } else {
            pch = std::to_chars(pch, rgch + sizeof rgch, intpart).ptr;
        }
        if (prec > 0) {
            *pch++ = '.';
            for (int i = prec - 1; i >= 0; i--) {
                pch[i] = (char)('0' + fracpart % 10);
                fracpart /= 10;
            }
            pch += prec;
        }
        cch = (size_t)(pch - rgch);
        return true;
    }

    // printf "%d" / "%ld".
    void Int(long value)
    {
        Reserve(24);
        cch = (size_t)(std::to_chars(rgch + cch, rgch + sizeof rgch, value).ptr - rgch);
    }

    // printf "%*.*f", right-aligned.
    void FixedRight(double value, int cchWidth, int prec)
    {
        Reserve((size_t)cchWidth + cchNumberMax);
        size_t ichStart = cch;
        Fixed(value, prec);
        size_t cchNum = cch - ichStart;
        if (cchNum < (size_t)cchWidth) {
            size_t cchPad = (size_t)cchWidth - cchNum;
            memmove(rgch + ichStart + cchPad, rgch + ichStart, cchNum);
            memset(rgch + ichStart, ' ', cchPad);
            cch += cchPad;
        }
    }

    // printf "%*d", right-aligned: the digits are counted first, so that the number is written
    // where it goes (a copy of digits just written reads them back across several stores).
    void IntRight(long value, int cchWidth)
    {
        static const unsigned long s_rgPow10[] = {1ul, 10ul, 100ul, 1000ul, 10000ul, 100000ul, 1000000ul,
                                                  10000000ul, 100000000ul, 1000000000ul, 10000000000ul,
                                                  100000000000ul, 1000000000000ul, 10000000000000ul,
                                                  100000000000000ul, 1000000000000000ul, 10000000000000000ul,
                                                  100000000000000000ul, 1000000000000000000ul};
        unsigned long u = value < 0 ? 0ul - (unsigned long)value : (unsigned long)value;
        size_t cchNum = 1;
        while (cchNum < sizeof s_rgPow10 / sizeof s_rgPow10[0] && u >= s_rgPow10[cchNum])
            cchNum++;
        Pad(cchNum + (value < 0 ? 1 : 0), cchWidth);
        Int(value);
    }

    // printf "%0*lX" (upper case) or "%0*lx".
    void Hex(unsigned long value, int cchMin, bool fUpper)
    {
        static const char s_rgchUpper[] = "0123456789ABCDEF";
        static const char s_rgchLower[] = "0123456789abcdef";
        const char* rgchDigit = fUpper ? s_rgchUpper : s_rgchLower;
        char buf[20];
        int cchNum = 0;
        do {
            buf[cchNum++] = rgchDigit[value & 0xF];
            value >>= 4;
        } while (value != 0);
        Reserve(32);
        for (int i = cchNum; i < cchMin; i++)
            rgch[cch++] = '0';
        while (cchNum > 0)
            rgch[cch++] = buf[--cchNum];
    }

    void Flush()
    {
        if (cch) {
            OutCch(rgch, cch);
            cch = 0;
        }
    }

private:
    static constexpr size_t cchNumberMax = 340;   // "%.9f" of the largest double, with sign

    void Reserve(size_t cchMore)
    {
        if (cch + cchMore > sizeof rgch)
            Flush();
    }

    // The spaces that bring a text of cchText up to cchWidth.
    void Pad(size_t cchText, int cchWidth)
    {
        if (cchText >= (size_t)cchWidth)
            return;
        size_t cchPad = (size_t)cchWidth - cchText;
        if (cchPad > sizeof rgch / 2) {
            for (size_t i = 0; i < cchPad; i++)
                Ch(' ');
            return;
        }
        Reserve(cchPad);
        memset(rgch + cch, ' ', cchPad);
        cch += cchPad;
    }

    char rgch[2048];
    size_t cch;
};

