// In-place heap sort through index callbacks: the caller's elements are never handed out as
// pointers, so the same core orders plain arrays and any other index-addressable collection.
#include "support/heapsort.h"

#include <utility>

#include "support/assert.h"

namespace {

// An array being sorted by HeapSort: the callbacks see the elements through this.
struct SORTARRAY {
    unsigned char* pb;
    unsigned long cb;
    PFNCMP pfnCmp;
};

int CmpArray(unsigned int i, unsigned int j, void* ctx)
{
    SORTARRAY const* psa = (SORTARRAY const*)ctx;
    return psa->pfnCmp(i, j, psa->pb);
}

void SwapArray(unsigned int i, unsigned int j, void* ctx)
{
    SORTARRAY const* psa = (SORTARRAY const*)ctx;
    if (i == j)
        return;
    unsigned char* pbI = psa->pb + i * psa->cb;
    unsigned char* pbJ = psa->pb + j * psa->cb;
    for (unsigned long ib = 0; ib < psa->cb; ib++)
        std::swap(pbI[ib], pbJ[ib]);
}

// The heap's positions seen as a max-heap for SiftDown: position p is "larger" when its index
// sorts first.
int CmpHeapPositions(unsigned int p, unsigned int q, void* ctx)
{
    HEAP const* pheap = (HEAP const*)ctx;
    return pheap->pfnCmp(pheap->rgi[q], pheap->rgi[p], pheap->ctx);
}

void SwapHeapPositions(unsigned int p, unsigned int q, void* ctx)
{
    HEAP* pheap = (HEAP*)ctx;
    std::swap(pheap->rgi[p], pheap->rgi[q]);
}

}   // namespace

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
    if (cb <= 0)
        return;
    SORTARRAY sa{(unsigned char*)rg, (unsigned long)cb, pfnCmp};
    HeapSortCore(&sa, c, CmpArray, SwapArray);
}

void HeapPush(HEAP* pheap, unsigned int i)
{
    unsigned int k = pheap->c++;
    pheap->rgi[k] = i;
    while (k > 0) {
        unsigned int kParent = (k - 1) / 2;
        if (pheap->pfnCmp(pheap->rgi[k], pheap->rgi[kParent], pheap->ctx) >= 0)
            break;
        std::swap(pheap->rgi[k], pheap->rgi[kParent]);
        k = kParent;
    }
    QF_ASSERT(k == 0 || pheap->pfnCmp(pheap->rgi[(k - 1) / 2], pheap->rgi[k], pheap->ctx) < 0);
}

unsigned int HeapPop(HEAP* pheap)
{
    QF_ASSERT(pheap->c > 0);
    unsigned int iTop = pheap->rgi[0];
    pheap->rgi[0] = pheap->rgi[--pheap->c];
    if (pheap->c > 1)
        SiftDown(pheap, 0, pheap->c - 1, CmpHeapPositions, SwapHeapPositions);
    // The new top sorts before its children (the heap's order holds where it changed first).
    QF_ASSERT(pheap->c < 2 || pheap->pfnCmp(pheap->rgi[0], pheap->rgi[1], pheap->ctx) < 0);
    QF_ASSERT(pheap->c < 3 || pheap->pfnCmp(pheap->rgi[0], pheap->rgi[2], pheap->ctx) < 0);
    return iTop;
}
