// Tables of up to hundreds of MB that never move: the whole capacity is reserved in the address
// space at once and its pages are only backed as they are first written.
#pragma once

#include <cstddef>

// Reserves room for cb bytes, zero-filled, in large pages where the system offers them; nullptr
// when the address space is limited (ulimit -v: a reservation would take from what the rest of the
// run may need, so the caller grows its table by steps instead) or has no room.
void* PvReserveTable(size_t cb);
// Gives back a reservation of cb bytes (the same cb as reserved); pv may be nullptr.
void ReleaseTable(void* pv, size_t cb);
