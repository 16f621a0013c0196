// What the fault shim and the sweep that runs it share: the kinds of system call, in the shim's
// order, and the board, a small file the shim maps and fills as the program runs.
#pragma once

constexpr int ckindFault = 18;

// The kind names QF_FAULT_KIND takes, in the order of FAULTBOARD::rgccall.
constexpr char const* s_rgszFaultKind[ckindFault] = {
    "read", "write", "readv", "writev", "open", "stat", "mmap", "munmap", "close",
    "rename", "link", "fsync", "unlink", "readlink", "lseek", "getdents", "fcntl", "chmod",
};

struct FAULTBOARD {
    unsigned long rgccall[ckindFault];   // calls of each kind so far (writes to fd 2 not among them)
    unsigned long cStderrWrites;
    int fActive;      // the shim's filter is in place
    int fFired;       // the chosen call happened and was failed (or shortened)
    int nrFired;      // its system call number
    long a0Fired;     // its first argument (the descriptor, for most)
};
