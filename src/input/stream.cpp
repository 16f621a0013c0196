// PLACEHOLDER until the stream lands.
#include "input/stream.h"
STREAM::STREAM() : pfile(nullptr), pbMap(nullptr), cbMap(0), posMap(0), pvMapBase(nullptr), cbMapTotal(0) {}
STREAM::~STREAM() {}
void STREAM::CloseFile() {}
bool STREAM::FOpenFile(char const*) { return false; }
bool STREAM::FOpenFileSegment(char const*, unsigned long, unsigned long) { return false; }
long STREAM::CbSize() { return 0; }
long STREAM::PosCur() { return 0; }
bool STREAM::FSetPos(long) { return false; }
bool STREAM::FReadByte(unsigned char*) { return false; }
bool STREAM::FReadBytes(int, void*) { return false; }
