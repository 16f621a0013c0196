// STREAM: a readable, seekable byte source over a whole file or one segment of a file, read
// through a private read-only memory mapping (standard I/O only when no mapping exists). A file
// cut short by another program while it is mapped reads as zeros from the cut on, and the stream
// says so through FChanged instead of the program dying of SIGBUS.
#pragma once

#include <cstdio>

// Opens path read-only (never blocking) and returns the descriptor, or -1 with errno set: the
// open's error, EISDIR for a directory, ENODEV for any other file that is not a regular file.
// *pcbFile, when not null, receives the file's size.
int FdOpenRegularFile(char const* path, long long* pcbFile);
// The same, as a read-only stdio stream on the checked descriptor; null with errno set. Shared
// with the tar reader.
FILE* PfileOpenRegularFile(char const* path);

class STREAM {
public:
    STREAM();
    ~STREAM();
    STREAM(STREAM const&) = delete;
    STREAM& operator=(STREAM const&) = delete;

    void CloseFile();
    // Maps a whole file (or, when it cannot be mapped, reads it into memory); false with errno set
    // for a file that cannot be opened or read, errno 0 for an empty one.
    bool FOpenFile(char const* path);
    // The same for cb bytes of the file from offset ibStart (any alignment).
    bool FOpenFileSegment(char const* path, unsigned long ibStart, unsigned long cb);
    // The errno value of the mapping that the last open could not make (and read instead), or 0.
    int ErrMap() const { return errMap; }
    // Reads cb bytes in memory that the caller keeps unchanged while the stream is open; false
    // (and nothing open) when cb is 0.
    bool FOpenMemory(unsigned char const* pb, unsigned long cb);

    // The mapped case inline: the walks ask for every record.
    long CbSize() { return pbMap ? cbMap : CbSizeUnmapped(); }
    long PosCur();
    bool FSetPos(long pos)
    {
        if (!pbMap)
            return FSetPosUnmapped(pos);
        posMap = pos;
        return true;
    }
    bool FReadByte(unsigned char* pb);
    // Reads exactly cb bytes at the current position; a read past the end fails and moves nothing.
    bool FReadBytes(int cb, void* pv);

    // The mapped bytes (CbSize() of them), or null when the stream is not mapped.
    unsigned char const* PbMap() const { return pbMap; }

    // Lets go of the memory of a file mapping's pages that hold bytes from ibStart on and lie
    // wholly before ibEnd (the end of the stream counts as a page's end): they read the same
    // afterwards, from the file again. Where the system mapped the file in large blocks it may let
    // go of the whole block around the range. A stream read into memory keeps its bytes.
    void ReleaseBytes(long ibStart, long ibEnd);
    // Asks for a file mapping's pages that hold the bytes from ibStart to ibEnd to be read in and
    // mapped at once, ahead of a pass that reads them all: one call instead of a fault every few
    // pages. Only a request: where the system cannot, the pass's reads fault them in as before.
    void PopulateBytes(long ibStart, long ibEnd);
    // Asks for file mappings in small pages, now and at every later open: the system may
    // otherwise map a large block of the file at the first byte read, so that a stream read at one
    // place (an input the merge has not reached) holds that much.
    void PreferSmallPages();

    // True once a read found the mapped file shorter than when it was mapped: the bytes from the
    // cut on were read as zeros. Stays set until the stream is closed.
    bool FChanged() const;

private:
    bool FClampToMapping(long* pibStart, long* pibEnd) const;
    void KeepMapping(void* pv, unsigned long cb);
    bool FReadInstead(int fd, unsigned long ibStart, unsigned long cb);
    long CbSizeUnmapped();
    bool FSetPosUnmapped(long pos);


    FILE* pfile;
    unsigned char const* pbMap;
    long cbMap;
    long posMap;
    // What munmap must release: the page-aligned start and length of the whole mapping.
    void* pvMapBase;
    unsigned long cbMapTotal;
    int iLiveMap;   // the mapping's entry in the bus-error handler's table, or -1
    int errMap;
    unsigned char* pbOwned;   // the bytes read instead of mapped (malloc'd), or null
    bool fOwnedShort;         // the file was shorter than its size when they were read
    bool fSmallPages;
};
