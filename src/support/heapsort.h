// In-place heap sort of fixed-size records through index-based callbacks, and a binary heap of
// indices for merges; neither allocates.
#pragma once

typedef int (*PFNCMP)(unsigned int i, unsigned int j, void* ctx);   // < 0 when i sorts before j
typedef void (*PFNSWAP)(unsigned int i, unsigned int j, void* ctx);

// Sorts c elements of cb bytes at rg; the callbacks get rg as their context.
void HeapSort(void* rg, unsigned int c, int cb, PFNCMP pfnCmp);
// The sort itself: touches the data only through the callbacks, passing pv as their context.
void HeapSortCore(void* pv, unsigned int c, PFNCMP pfnCmp, PFNSWAP pfnSwap);

// A min-heap of element indices: the index that sorts first (by pfnCmp on the indices, with ctx)
// is on top. rgi has room for every index pushed; pfnCmp must order any two indices strictly.
struct HEAP {
    unsigned int* rgi;
    unsigned int c;
    PFNCMP pfnCmp;
    void* ctx;
};
void HeapPush(HEAP* pheap, unsigned int i);
// Removes and returns the top index; the heap must not be empty.
unsigned int HeapPop(HEAP* pheap);
