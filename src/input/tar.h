// TAR: walks the 512-byte headers of a tar archive without extracting anything and reports each
// member (name, size, where its data starts) to a callback.
#pragma once

#include <cstdio>

constexpr int cbTarBlock = 512;

struct TARF {
    int chType;               // header byte 156; '0' marks a regular file
    unsigned long long cb;    // member size, cut to the bytes present when the archive is short
    long long ibData;         // offset of the member's first data byte
    bool fTruncated;          // the archive ends before the member's (padded) data does
    char szName[256];         // prefix "/" name for ustar members with a prefix, else the name
    char szPrefix[156];       // the ustar prefix field as it stands (empty for other headers)
};

typedef int (*PFNTARSCAN)(TARF const& tarf, void* context);   // non-zero: go on

class TAR {
public:
    TAR();
    ~TAR();
    TAR(TAR const&) = delete;
    TAR& operator=(TAR const&) = delete;

    bool FOpen(char const* path);
    void Close();
    void Scan(PFNTARSCAN pfn, void* context);
    bool FFindFile(char const* name, TARF* ptarf);
    // The errno value of the read that stopped the last walk early, or 0 when it read to the end.
    int ErrScan() const { return errScan; }

private:
    FILE* pfile;
    int errScan;
};
