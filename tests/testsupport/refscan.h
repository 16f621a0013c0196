// The record search as first written, one byte at a time straight off memory and re-adding every
// candidate's bytes: the yardstick the tests hold the fast scanner to, and the baseline the scanner
// benchmark times it against. Header-only, so programs without the test support library can use it.
#pragma once

// The marker state after byte b outside a candidate: 1 after a lone 03, 2 after 03 02, else 0. A
// second 03 in a row does not restart the match.
inline int NextMarkerState(int state, unsigned b)
{
    if (b == 0x03)
        return state == 0 ? 1 : 0;
    return b == 0x02 && state == 1 ? 2 : 0;
}

// Same contract as FScanToRecordInBytes over the cb bytes at pb.
inline int FRefScanBytes(unsigned char const* pb, long cb, long* ppos, long posLimit, int* pcb)
{
    long p = *ppos;
    if (p >= posLimit)
        return 0;
    int state = 0;
    for (;;) {
        if (p < 0 || p >= cb)
            return 0;
        unsigned b = pb[p];
        if (state == 2) {
            unsigned L = b;
            if (L >= 2 && p + (long)L <= cb) {
                unsigned sum = 0;
                for (long i = p; i < p + (long)L; i++)
                    sum += pb[i];
                if ((sum & 0xFF) == 0) {
                    *ppos = p - 2;
                    *pcb = (int)L + 2;
                    return 1;
                }
            }
            state = 0;
        } else {
            state = NextMarkerState(state, b);
        }
        if (p + 1 == posLimit)
            return 0;
        p++;
    }
}
