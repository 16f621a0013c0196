// In-place heap sort of fixed-size records through index-based callbacks; allocates nothing.
#pragma once

typedef int (*PFNCMP)(unsigned int i, unsigned int j, void* ctx);   // < 0 when i sorts before j
typedef void (*PFNSWAP)(unsigned int i, unsigned int j, void* ctx);

// Sorts c elements of cb bytes at rg; the callbacks get rg as their context.
void HeapSort(void* rg, unsigned int c, int cb, PFNCMP pfnCmp);
// The sort itself: touches the data only through the callbacks, passing pv as their context.
void HeapSortCore(void* pv, unsigned int c, PFNCMP pfnCmp, PFNSWAP pfnSwap);
// Exchanges elements i and j of the size given to the running HeapSort, byte by byte.
void _Swap(unsigned int i, unsigned int j, void* ctx);
