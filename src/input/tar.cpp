// PLACEHOLDER until the tar reader lands.
#include "input/tar.h"
TAR::TAR() : pfile(nullptr) {}
TAR::~TAR() {}
bool TAR::FOpen(char const*) { return false; }
void TAR::Close() {}
void TAR::Scan(PFNTARSCAN, void*) {}
bool TAR::FFindFile(char const*, TARF*) { return false; }
