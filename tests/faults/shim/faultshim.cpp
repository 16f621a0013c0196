// A preloaded library that makes the Nth system call of one kind fail, for the fault sweep.
//
// Interposing library symbols (write, openat...) would miss most calls that matter: glibc's stdio
// and its other internals reach the kernel through hidden aliases, never through the PLT, so
// fwrite's write, fopen's openat and fclose's close could not be failed that way. The shim
// instead installs a seccomp filter that traps the calls of every kind below with SIGSYS, wherever
// they come from (the program, stdio, the C++ library, the time-zone library, worker threads),
// and its handler either fails the call or makes it itself from one instruction that the filter
// lets through.
//
// What it cannot reach: everything before its constructor runs (the loader opening, reading and
// mapping the libraries, and the constructors of libraries initialised before this one), and
// calls that never enter the kernel (the vDSO's clock). Writes to standard error are counted
// apart and never failed: they carry the message that says what failed.
//
// Environment:
//   QF_FAULT_KIND   the kind to fail (read, write, open, ...; see s_rgkind); none: only count
//   QF_FAULT_N      which call of that kind fails, from 1
//   QF_FAULT_ERROR  EIO, ENOSPC, ENOMEM, EINTR, or "short" (a read or write of half the bytes)
//   QF_FAULT_PATH   when set, only opens of a path that contains it count towards QF_FAULT_N
//   QF_FAULT_ALSO_KIND, QF_FAULT_ALSO_N   a second call that fails the same way (a double fault)
//   QF_FAULT_BOARD  a file of sizeof(FAULTBOARD) bytes that receives the counts as they happen,
//                   so that they survive any end of the program
#include "faultboard.h"

#include <cerrno>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#include <unistd.h>

#if defined(__x86_64__)

// The one place a trapped call may be made from: the filter lets through the call whose return
// address is QfFaultSyscallReturn.
extern "C" long QfFaultSyscall(long nr, long a0, long a1, long a2, long a3, long a4, long a5);
extern "C" char QfFaultSyscallReturn[];
asm(".text\n"
    ".globl QfFaultSyscall\n"
    ".type QfFaultSyscall, @function\n"
    "QfFaultSyscall:\n"
    "  movq %rdi, %rax\n"
    "  movq %rsi, %rdi\n"
    "  movq %rdx, %rsi\n"
    "  movq %rcx, %rdx\n"
    "  movq %r8, %r10\n"
    "  movq %r9, %r8\n"
    "  movq 8(%rsp), %r9\n"
    "  syscall\n"
    ".globl QfFaultSyscallReturn\n"
    "QfFaultSyscallReturn:\n"
    "  ret\n"
    ".size QfFaultSyscall, .-QfFaultSyscall\n");

namespace {

struct KIND {
    int rgnr[6];   // the system calls of the kind, ended by -1
};

// In the order of s_rgszFaultKind. The read and write kinds hold only calls whose third argument
// is a byte count, so that a short transfer can be made of any of them; the vector forms are
// kinds of their own.
KIND const s_rgkind[ckindFault] = {
    {{SYS_read, SYS_pread64, -1}},
    {{SYS_write, SYS_pwrite64, -1}},
    {{SYS_readv, SYS_preadv, -1}},
    {{SYS_writev, SYS_pwritev, -1}},
    {{SYS_open, SYS_openat, SYS_creat, SYS_openat2, -1}},
    {{SYS_stat, SYS_fstat, SYS_lstat, SYS_newfstatat, SYS_statx, -1}},
    {{SYS_mmap, SYS_mremap, -1}},
    {{SYS_munmap, -1}},
    {{SYS_close, -1}},
    {{SYS_rename, SYS_renameat, SYS_renameat2, -1}},
    {{SYS_link, SYS_linkat, -1}},
    {{SYS_fsync, SYS_fdatasync, -1}},
    {{SYS_unlink, SYS_unlinkat, -1}},
    {{SYS_readlink, SYS_readlinkat, -1}},
    {{SYS_lseek, -1}},
    {{SYS_getdents64, SYS_getdents, -1}},
    {{SYS_fcntl, SYS_dup, SYS_dup2, SYS_dup3, -1}},
    {{SYS_fchmod, SYS_fchown, SYS_fchmodat, SYS_fchownat, -1}},
};

struct SHIM {
    FAULTBOARD boardPrivate;
    FAULTBOARD* pboard;
    int ikindFault;        // -1: count only
    unsigned long nFault;
    int ikindAlso;         // the second fault's kind, or -1
    unsigned long nAlso;
    unsigned long cAlso;   // calls of that kind so far
    int errFault;          // 0: a short transfer
    char const* szPath;    // only opens of such paths count, or null
    unsigned long cPath;   // such opens so far
};
SHIM s_shim;

int IkindOf(long nr)
{
    for (int ikind = 0; ikind < ckindFault; ikind++)
        for (int const* pnr = s_rgkind[ikind].rgnr; *pnr >= 0; pnr++)
            if (*pnr == nr)
                return ikind;
    return -1;
}

bool FShortTransfer(long nr)
{
    return nr == SYS_read || nr == SYS_pread64 || nr == SYS_write || nr == SYS_pwrite64;
}

// The path an open names, or null for a call that is no open.
char const* PszOpenPath(long nr, long const* rga)
{
    if (nr == SYS_open || nr == SYS_creat)
        return (char const*)rga[0];
    if (nr == SYS_openat || nr == SYS_openat2)
        return (char const*)rga[1];
    return nullptr;
}

bool FContains(char const* sz, char const* szPart)
{
    for (; sz && *sz; sz++) {
        char const* pch = sz;
        char const* pchPart = szPart;
        while (*pchPart && *pch == *pchPart)
            pch++, pchPart++;
        if (*pchPart == 0)
            return true;
    }
    return false;
}

bool FWrite(long nr)
{
    return nr == SYS_write || nr == SYS_pwrite64 || nr == SYS_writev || nr == SYS_pwritev;
}

// Runs on every trapped call, on whatever thread made it; it makes no call of its own but
// through QfFaultSyscall, and touches nothing but the board.
extern "C" void OnTrappedCall(int, siginfo_t* psi, void* pvContext)
{
    greg_t* rgreg = ((ucontext_t*)pvContext)->uc_mcontext.gregs;
    long nr = psi->si_syscall;
    long rga[6] = {rgreg[REG_RDI], rgreg[REG_RSI], rgreg[REG_RDX], rgreg[REG_R10], rgreg[REG_R8], rgreg[REG_R9]};
    int ikind = IkindOf(nr);
    FAULTBOARD* pboard = s_shim.pboard;
    if (ikind >= 0 && FWrite(nr) && rga[0] == STDERR_FILENO) {
        __atomic_add_fetch(&pboard->cStderrWrites, 1, __ATOMIC_RELAXED);
        ikind = -1;
    }
    long ret;
    bool fDone = false;
    if (ikind >= 0) {
        unsigned long n = __atomic_add_fetch(&pboard->rgccall[ikind], 1, __ATOMIC_RELAXED);
        bool fFail = false;
        if (ikind == s_shim.ikindFault) {
            if (s_shim.szPath != nullptr)
                fFail = FContains(PszOpenPath(nr, rga), s_shim.szPath) &&
                        __atomic_add_fetch(&s_shim.cPath, 1, __ATOMIC_RELAXED) == s_shim.nFault;
            else
                fFail = n == s_shim.nFault;
        }
        if (ikind == s_shim.ikindAlso && __atomic_add_fetch(&s_shim.cAlso, 1, __ATOMIC_RELAXED) == s_shim.nAlso)
            fFail = true;
        if (fFail) {
            pboard->nrFired = (int)nr;
            pboard->a0Fired = rga[0];
            if (s_shim.errFault == 0) {
                // Half the bytes, at least one; a transfer of one byte cannot be made shorter.
                if (FShortTransfer(nr) && rga[2] > 1)
                    rga[2] /= 2;
                pboard->fFired = 1;
            } else if (nr == SYS_close) {
                // The descriptor is gone after a failed close too, as the kernel does it.
                QfFaultSyscall(nr, rga[0], rga[1], rga[2], rga[3], rga[4], rga[5]);
                ret = -s_shim.errFault;
                fDone = true;
                pboard->fFired = 1;
            } else {
                ret = -s_shim.errFault;
                fDone = true;
                pboard->fFired = 1;
            }
        }
    }
    if (!fDone)
        ret = QfFaultSyscall(nr, rga[0], rga[1], rga[2], rga[3], rga[4], rga[5]);
    rgreg[REG_RAX] = ret;
}

int ErrFromName(char const* sz)
{
    static struct {
        char const* szName;
        int err;
    } const s_rgerr[] = {{"EIO", EIO}, {"ENOSPC", ENOSPC}, {"ENOMEM", ENOMEM}, {"EINTR", EINTR}, {"short", 0}};
    for (auto const& e : s_rgerr)
        if (strcmp(e.szName, sz) == 0)
            return e.err;
    return EIO;
}

int IkindFromName(char const* szKind)
{
    for (int ikind = 0; szKind != nullptr && ikind < ckindFault; ikind++)
        if (strcmp(s_rgszFaultKind[ikind], szKind) == 0)
            return ikind;
    return -1;
}

// The filter: calls from the shim's own instruction pass, every call of a kind is trapped, and
// everything else passes. The instruction pointer is compared in its two 32-bit halves.
bool FInstallFilter()
{
    constexpr int cinsnMax = 128;
    struct sock_filter rginsn[cinsnMax];
    int cinsn = 0;
    auto put = [&](sock_filter insn) {
        if (cinsn < cinsnMax)
            rginsn[cinsn++] = insn;
    };
    unsigned long ip = (unsigned long)QfFaultSyscallReturn;
    put(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)));
    put(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0));
    put(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    put(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, instruction_pointer)));
    put(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (unsigned)(ip & 0xFFFFFFFFu), 0, 3));
    put(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, instruction_pointer) + 4));
    put(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (unsigned)(ip >> 32), 0, 1));
    put(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    put(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)));
    for (KIND const& kind : s_rgkind)
        for (int const* pnr = kind.rgnr; *pnr >= 0; pnr++) {
            put(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, (unsigned)*pnr, 0, 1));
            put(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP));
        }
    put(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    if (cinsn >= cinsnMax)
        return false;
    struct sock_fprog prog = {(unsigned short)cinsn, rginsn};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

// The board file is mapped shared, so the counts reach it without any call at the program's end.
FAULTBOARD* PboardMap()
{
    char const* szBoard = getenv("QF_FAULT_BOARD");
    if (szBoard == nullptr)
        return &s_shim.boardPrivate;
    int fd = open(szBoard, O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return &s_shim.boardPrivate;
    void* pv = mmap(nullptr, sizeof(FAULTBOARD), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    return pv == MAP_FAILED ? &s_shim.boardPrivate : (FAULTBOARD*)pv;
}

__attribute__((constructor)) void StartShim()
{
    s_shim.pboard = PboardMap();
    s_shim.ikindFault = IkindFromName(getenv("QF_FAULT_KIND"));
    s_shim.ikindAlso = IkindFromName(getenv("QF_FAULT_ALSO_KIND"));
    char const* szN = getenv("QF_FAULT_N");
    char const* szNAlso = getenv("QF_FAULT_ALSO_N");
    char const* szErr = getenv("QF_FAULT_ERROR");
    s_shim.szPath = getenv("QF_FAULT_PATH");
    s_shim.nFault = szN ? strtoul(szN, nullptr, 10) : 0;
    s_shim.nAlso = szNAlso ? strtoul(szNAlso, nullptr, 10) : 0;
    s_shim.errFault = szErr ? ErrFromName(szErr) : EIO;

    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_sigaction = OnTrappedCall;
    // Another signal's handler may make a trapped call while this one runs.
    sa.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&sa.sa_mask);
    if (sigaction(SIGSYS, &sa, nullptr) != 0 || !FInstallFilter()) {
        static char const szRefused[] = "faultshim: the seccomp filter was refused\n";
        ssize_t cb = write(STDERR_FILENO, szRefused, sizeof szRefused - 1);
        (void)cb;
        _exit(125);
    }
    s_shim.pboard->fActive = 1;
}

}   // namespace

#endif
