// PLACEHOLDER until the heap sort lands.
#include "support/heapsort.h"
void HeapSort(void*, unsigned int, int, PFNCMP) {}
void HeapSortCore(void*, unsigned int, PFNCMP, PFNSWAP) {}
void _Swap(unsigned int, unsigned int, void*) {}
