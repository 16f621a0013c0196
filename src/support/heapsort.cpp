// In-place heap sort through index callbacks: the caller's elements are never handed out as
// pointers, so the same core orders plain arrays and any other index-addressable collection.
#include "support/heapsort.h"

// Element size of the array that HeapSort is sorting; _Swap reads it. Module state, so only one
// HeapSort runs at a time (the program is single-threaded).
static int _cbFoo;

void _Swap(unsigned int i, unsigned int j, void* ctx)
{
    if (_cbFoo <= 0 || i == j)
        return;
    unsigned char* pbI = (unsigned char*)ctx + (unsigned long)i * (unsigned long)_cbFoo;
    unsigned char* pbJ = (unsigned char*)ctx + (unsigned long)j * (unsigned long)_cbFoo;
    for (int ib = 0; ib < _cbFoo; ib++) {
        unsigned char b = pbI[ib];
        pbI[ib] = pbJ[ib];
        pbJ[ib] = b;
    }
}

// Moves element p down within positions 0..n until neither child sorts after it. On a tie
// between the children the left one is taken, which fixes the order of equal elements.
static void SiftDown(void* pv, unsigned int p, unsigned int n, PFNCMP pfnCmp, PFNSWAP pfnSwap)
{
    unsigned long k = 2ul * p + 1;
    while (k <= n) {
        if (k < n && pfnCmp((unsigned int)k, (unsigned int)k + 1, pv) < 0)
            k++;
        if (pfnCmp(p, (unsigned int)k, pv) >= 0)
            return;
        pfnSwap(p, (unsigned int)k, pv);
        p = (unsigned int)k;
        k = 2ul * p + 1;
    }
}

void HeapSortCore(void* pv, unsigned int c, PFNCMP pfnCmp, PFNSWAP pfnSwap)
{
    if (c == 0)
        return;
    unsigned int n = c - 1;
    unsigned int i = c / 2;
    for (;;) {
        if (i > 0) {
            i--;
            SiftDown(pv, i, n, pfnCmp, pfnSwap);
            continue;
        }
        pfnSwap(n, 0, pv);
        if (n < 2)
            return;
        n--;
        SiftDown(pv, 0, n, pfnCmp, pfnSwap);
    }
}

void HeapSort(void* rg, unsigned int c, int cb, PFNCMP pfnCmp)
{
    _cbFoo = cb;
    HeapSortCore(rg, c, pfnCmp, _Swap);
}
