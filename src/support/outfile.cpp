// Output files that replace their target in one step. Where the file system has unnamed files
// the bytes go to one and get a name only when complete, so not even SIGKILL can leave a partial
// file behind; elsewhere a named temporary file is removed on exit and on the usual
// terminating signals. The bytes are synced before any name points at them and the folder after,
// so that a power cut right after the run finds the old file or the whole new one.
#include "support/outfile.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/retry.h"

namespace {

constexpr int cLinkFollowMax = 40;   // as the kernel's own limit on links in a path
constexpr int cTempNameTries = 100;
char const s_szTempStem[] = ".quenfell-join-";
int const s_rgsigCleanup[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// The one named temporary file that exists right now, for the signal handler and exit to remove.
// A run writes one output at a time, so one slot is enough.
struct TEMPGUARD {
    char szTempPending[PATH_MAX + 32];
    volatile sig_atomic_t fTempPending;
    bool fInstalled;                  // the handlers and the exit hook are in place
    unsigned long nSeq;               // names made so far, for fresh ones
};
TEMPGUARD s_tempguard;

extern "C" void RemovePendingTempAndReraise(int sig)
{
    if (s_tempguard.fTempPending)
        unlink(s_tempguard.szTempPending);
    // SA_RESETHAND has put back the default action: the signal ends the program as it would have.
    raise(sig);
}

void RemovePendingTempAtExit()
{
    if (s_tempguard.fTempPending)
        unlink(s_tempguard.szTempPending);
    s_tempguard.fTempPending = 0;
}

// A signal that was ignored when the program started (nohup, a background job) stays ignored.
void InstallCleanupOnce()
{
    if (s_tempguard.fInstalled)
        return;
    s_tempguard.fInstalled = true;
    atexit(RemovePendingTempAtExit);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = RemovePendingTempAndReraise;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    for (int sig : s_rgsigCleanup)
        sigaddset(&sa.sa_mask, sig);
    for (int sig : s_rgsigCleanup) {
        struct sigaction saOld;
        if (sigaction(sig, nullptr, &saOld) == 0 && saOld.sa_handler != SIG_IGN)
            sigaction(sig, &sa, nullptr);
    }
}

// Creating a named temporary file and recording it happen with the cleanup signals held back, so
// that no signal finds a file that is not yet recorded.
void BlockCleanupSignals(sigset_t* psetOld)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : s_rgsigCleanup)
        sigaddset(&set, sig);
    sigprocmask(SIG_BLOCK, &set, psetOld);
}

void ClearPendingTemp()
{
    s_tempguard.fTempPending = 0;
}

// The folder part of path with its slash, or "./": the temporary file lives beside the target so
// that the final rename never crosses file systems.
std::string StrFolderOf(std::string const& path)
{
    size_t ich = path.rfind('/');
    return ich == std::string::npos ? std::string("./") : path.substr(0, ich + 1);
}

// Follows symbolic links by hand, since a link must stay a link and its target be replaced. A
// dangling link names the file to create.
int ErrFinalTarget(char const* path, std::string* pstrTarget)
{
    std::string str = path;
    for (int i = 0; i < cLinkFollowMax; i++) {
        struct stat st;
        if (lstat(str.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            *pstrTarget = str;
            return 0;
        }
        char szLink[PATH_MAX];
        ssize_t cch = readlink(str.c_str(), szLink, sizeof szLink - 1);
        if (cch < 0)
            return errno;
        szLink[cch] = 0;
        str = szLink[0] == '/' ? std::string(szLink) : str.substr(0, str.rfind('/') + 1) + szLink;
    }
    return ELOOP;
}

// Writes a fresh name "<folder>.quenfell-join-XXXXXX" into s_tempguard.szTempPending; false when too long.
bool FMakeTempName(std::string const& strFolder)
{
    static char const s_szAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    char szSuffix[7] = "XXXXXX";
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    unsigned long n = ((unsigned long)ts.tv_nsec * 2654435761u) ^ ((unsigned long)getpid() << 16) ^ (++s_tempguard.nSeq * 40503u);
    for (int i = 0; i < 6; i++, n /= 62)
        szSuffix[i] = s_szAlphabet[n % 62];
    int cch = snprintf(s_tempguard.szTempPending, sizeof s_tempguard.szTempPending, "%s%s%s", strFolder.c_str(), s_szTempStem, szSuffix);
    return cch > 0 && (size_t)cch < sizeof s_tempguard.szTempPending;
}

// A new file of its own name beside the target; the umask applies to its mode as to any new file.
int FdOpenNamedTemp(OUTFILE* pout, std::string const& strFolder)
{
    InstallCleanupOnce();
    int fd = -1;
    errno = EEXIST;
    for (int i = 0; i < cTempNameTries && fd < 0 && errno == EEXIST; i++) {
        if (!FMakeTempName(strFolder)) {
            errno = ENAMETOOLONG;
            return -1;
        }
        sigset_t setOld;
        BlockCleanupSignals(&setOld);
        fd = FdOpenRetry(s_tempguard.szTempPending, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        int err = errno;
        if (fd >= 0) {
            s_tempguard.fTempPending = 1;
            pout->strTemp = s_tempguard.szTempPending;
        }
        sigprocmask(SIG_SETMASK, &setOld, nullptr);
        errno = err;
    }
    return fd;
}

// The stream over fd, which pout then owns; on failure fd is closed.
int ErrAttachStream(OUTFILE* pout, int fd)
{
    pout->pfile = PfileWriterOver(fd);
    if (!pout->pfile) {
        int err = errno;
        close(fd);
        return err;
    }
    pout->fd = fd;
    return 0;
}

int ErrOpenDirect(OUTFILE* pout, char const* path, bool fRegular)
{
    int fd = FdOpenRetry(path, O_WRONLY | O_CLOEXEC | O_NOCTTY | (fRegular ? O_TRUNC : 0));
    if (fd < 0)
        return errno;
    int err = ErrAttachStream(pout, fd);
    if (err == 0)
        pout->fDirect = true;
    return err;
}

// Removes a temporary file that must not stay. When that fails too, the file is left, and since
// nothing else will ever remove it, the line says where it is.
void RemoveTemp(char const* szTemp)
{
    int ret;
    do
        ret = unlink(szTemp);
    while (ret != 0 && errno == EINTR);
    if (ret != 0 && errno != ENOENT)
        fprintf(stderr, "temporary file '%s' left behind: could not remove it. %s.\n", szTemp, strerror(errno));
}

// Once the new file has its name, the folder is synced so that the name survives a power cut. A
// folder that cannot be synced (some file systems refuse it) is let be: the file in its place is
// whole and synced, and a failure reported now would claim that the old file stayed.
void SyncFolderOf(std::string const& strTarget)
{
    int fd = FdOpenRetry(StrFolderOf(strTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    FsyncRetry(fd);
    close(fd);
}

// Gives an unnamed file the name szName; false with errno set.
bool FLinkUnnamed(int fd, char const* szName)
{
    char szProc[64];
    snprintf(szProc, sizeof szProc, "/proc/self/fd/%d", fd);
    if (LinkatRetry(AT_FDCWD, szProc, AT_FDCWD, szName, AT_SYMLINK_FOLLOW) == 0)
        return true;
    // Without /proc only the privileged way is left.
    return errno == ENOENT && LinkatRetry(fd, "", AT_FDCWD, szName, AT_EMPTY_PATH) == 0;
}

// A new target gets its name directly; an existing one is replaced by a rename from a temporary
// name, with the cleanup signals held back meanwhile so that the name never outlives the run.
int ErrPublishUnnamed(OUTFILE* pout, int fd)
{
    if (!pout->fHaveOld) {
        if (FLinkUnnamed(fd, pout->strTarget.c_str()))
            return 0;
        if (errno != EEXIST)
            return errno;
    }
    sigset_t setOld;
    BlockCleanupSignals(&setOld);
    int err = EEXIST;
    std::string strFolder = StrFolderOf(pout->strTarget);
    for (int i = 0; i < cTempNameTries && err == EEXIST; i++) {
        if (!FMakeTempName(strFolder)) {
            err = ENAMETOOLONG;
            break;
        }
        err = FLinkUnnamed(fd, s_tempguard.szTempPending) ? 0 : errno;
    }
    if (err == 0) {
        s_tempguard.fTempPending = 1;
        if (RenameRetry(s_tempguard.szTempPending, pout->strTarget.c_str()) != 0) {
            err = errno;
            RemoveTemp(s_tempguard.szTempPending);
        }
        ClearPendingTemp();
    }
    sigprocmask(SIG_SETMASK, &setOld, nullptr);
    return err;
}

constexpr long long cbWritebackStep = 4 << 20;

void NoteError(OUTFILE* pout)
{
    if (pout->errnoFirst == 0)
        pout->errnoFirst = errno != 0 ? errno : -1;
}

}   // namespace

int ErrOpenOutFile(OUTFILE* pout, char const* path)
{
    pout->pfile = nullptr;
    pout->fd = -1;
    pout->strTarget.clear();
    pout->strTemp.clear();
    pout->fDirect = false;
    pout->fHaveOld = false;
    pout->errnoFirst = 0;
    pout->cbWritten = pout->cbWriteback = 0;

    struct stat st;
    bool fExists = stat(path, &st) == 0;
    if (!fExists && errno != ENOENT)
        return errno;
    if (fExists && S_ISDIR(st.st_mode))
        return EISDIR;
    if (fExists && !S_ISREG(st.st_mode))
        return ErrOpenDirect(pout, path, false);
    int err = ErrFinalTarget(path, &pout->strTarget);
    if (err != 0)
        return err;
    if (fExists) {
        // A link that leads to a file without a name of its own (/dev/stdout, /proc/self/fd/N,
        // a deleted file) cannot be replaced: it is written where it is.
        struct stat stTarget;
        if (lstat(pout->strTarget.c_str(), &stTarget) != 0 || stTarget.st_dev != st.st_dev ||
            stTarget.st_ino != st.st_ino)
            return ErrOpenDirect(pout, path, true);
        // Replacing needs only the folder's permission; the user must also be allowed to write
        // the file itself, or the join would overwrite what open would have refused.
        int fdCheck = FdOpenRetry(pout->strTarget.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fdCheck < 0)
            return errno;
        close(fdCheck);
        pout->fHaveOld = true;
    }

    std::string strFolder = StrFolderOf(pout->strTarget);
    int fd = FdOpenRetry(strFolder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL))
        fd = FdOpenNamedTemp(pout, strFolder);
    if (fd < 0)
        return errno;
    if (pout->fHaveOld) {
        // Ownership first: changing it may clear set-id bits that the mode then restores. Only
        // a privileged user can give the file away; for others the failure leaves it theirs.
        int errChown = fchown(fd, st.st_uid, st.st_gid);
        (void)errChown;
        fchmod(fd, st.st_mode & 07777);
    }
    err = ErrAttachStream(pout, fd);
    if (err != 0)
        AbandonOutFile(pout);
    return err;
}

void WriteOutFile(OUTFILE* pout, void const* pv, size_t cb)
{
    if (fwrite(pv, 1, cb, pout->pfile) != cb)
        NoteError(pout);
    pout->cbWritten += (long long)cb;
    // The disk starts on what is written while the rest is made, so that the sync before the
    // rename waits only for the last of it. Only a start: the sync still reports every failure.
    if (!pout->fDirect && pout->cbWritten - pout->cbWriteback >= cbWritebackStep) {
        if (fflush(pout->pfile) != 0)
            NoteError(pout);
        else
            sync_file_range(pout->fd, pout->cbWriteback, pout->cbWritten - pout->cbWriteback, SYNC_FILE_RANGE_WRITE);
        pout->cbWriteback = pout->cbWritten;
    }
}

int ErrCommitOutFile(OUTFILE* pout)
{
    errno = 0;
    if (fflush(pout->pfile) != 0)
        NoteError(pout);
    fclose(pout->pfile);
    pout->pfile = nullptr;
    int fd = pout->fd;
    pout->fd = -1;

    if (pout->fDirect) {
        if (close(fd) != 0 && errno != EINTR)
            NoteError(pout);
        return pout->errnoFirst;
    }
    // The bytes reach the disk before a name points at them: on file systems that do not order
    // the two, a power cut right after the rename could otherwise leave an empty file.
    if (pout->errnoFirst == 0 && FsyncRetry(fd) != 0)
        NoteError(pout);
    if (!pout->strTemp.empty()) {
        // A late write error can come with the close; after EINTR the descriptor is gone all the same.
        if (close(fd) != 0 && errno != EINTR)
            NoteError(pout);
        int err = pout->errnoFirst;
        if (err == 0 && RenameRetry(pout->strTemp.c_str(), pout->strTarget.c_str()) != 0)
            err = errno;
        if (err != 0)
            RemoveTemp(pout->strTemp.c_str());
        ClearPendingTemp();
        pout->strTemp.clear();
        if (err == 0)
            SyncFolderOf(pout->strTarget);
        return err;
    }
    int err = pout->errnoFirst;
    if (err == 0)
        err = ErrPublishUnnamed(pout, fd);
    // The file is synced, so its close can report nothing that matters any more.
    close(fd);
    if (err == 0)
        SyncFolderOf(pout->strTarget);
    return err;
}

void AbandonOutFile(OUTFILE* pout)
{
    if (pout->pfile)
        fclose(pout->pfile);
    pout->pfile = nullptr;
    if (pout->fd >= 0)
        close(pout->fd);
    pout->fd = -1;
    if (!pout->strTemp.empty()) {
        RemoveTemp(pout->strTemp.c_str());
        ClearPendingTemp();
        pout->strTemp.clear();
    }
}
