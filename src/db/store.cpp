// Adding a download: its SHA-256 (on a second thread while the download is read), its transient
// records merged into the held runs where it holds something new, its long-term records added
// once each, the decoded tables brought up to date, and its row in `downloads`, all in one
// transaction.
#include "db/store.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "db/derive.h"
#include "db/sql.h"
#include "support/sha256.h"

namespace {

constexpr int partLongTerm = sectLongTerm;
constexpr int partTransient = sectTransient;
constexpr uint32_t timestampNoDate = 978307200u;   // 2001-01-01 00:00:00 UTC and before: no date
constexpr uint32_t timestampErased = 0xFFFFFFFFu;

// ---- Digests ------------------------------------------------------------------------------------

inline uint64_t Mix64(uint64_t z)
{
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

// A record's bytes as 64 bits. A bucket's digest is the sum of its records' hashes, which does not
// depend on their order, so a download's records can be compared with a run without reading it.
// Each word is multiplied in (with the record's length, so that no zero bytes go unseen) and the
// result mixed once.
uint64_t HashRecord(uint8_t const* pb, int cb)
{
    uint64_t h = 0x9E3779B97F4A7C15ull * (uint64_t)(cb + 1);
    int ib = 0;
    for (; ib + 8 <= cb; ib += 8) {
        uint64_t k;
        memcpy(&k, pb + ib, 8);
        h = (h ^ k) * 0xFF51AFD7ED558CCDull;
        h ^= h >> 32;
    }
    uint64_t k = 0;
    for (int i = 0; ib + i < cb; i++)
        k |= (uint64_t)pb[ib + i] << (8 * i);
    return Mix64(h ^ k);
}

struct SUM {
    int64_t crec = 0;
    uint64_t digest = 0;
    uint32_t timestampFirst = 0xFFFFFFFFu, timestampLast = 0;
};

void AddToSum(SUM* psum, RECORDS const& recs, size_t irec)
{
    RECINFO const& info = recs.rgrec[irec];
    psum->crec++;
    psum->digest += HashRecord(PbRecord(recs, irec), info.cb);
    psum->timestampFirst = std::min(psum->timestampFirst, info.timestamp);
    psum->timestampLast = std::max(psum->timestampLast, info.timestamp);
}

// ---- The download's SHA-256, on its own thread ------------------------------------------------

struct HASHJOB {
    std::string strPath;
    char szHex[cchSha256Hex + 1] = {0};
    int64_t cb = 0;
    int err = 0;
};

// Read through a mapping, populated at once: the bytes are hashed where they lie, not copied.
void HashFile(HASHJOB* pjob)
{
    int fd = open(pjob->strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        pjob->err = errno;
        return;
    }
    SHA256 sha;
    InitSha256(&sha);
    struct stat st;
    if (fstat(fd, &st) != 0) {
        pjob->err = errno;
        close(fd);
        return;
    }
    void* pv = st.st_size > 0 ? mmap(nullptr, (size_t)st.st_size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0)
                              : MAP_FAILED;
    if (pv != MAP_FAILED) {
        AddSha256(&sha, pv, (size_t)st.st_size);
        pjob->cb = st.st_size;
        munmap(pv, (size_t)st.st_size);
    } else {
        std::vector<uint8_t> rgb(1 << 20);
        for (;;) {
            ssize_t cb = read(fd, rgb.data(), rgb.size());
            if (cb < 0 && errno == EINTR)
                continue;
            if (cb < 0) {
                pjob->err = errno;
                break;
            }
            if (cb == 0)
                break;
            AddSha256(&sha, rgb.data(), (size_t)cb);
            pjob->cb += cb;
        }
    }
    close(fd);
    uint8_t rgbDigest[cbSha256];
    FinishSha256(&sha, rgbDigest);
    HexFromSha256(rgbDigest, pjob->szHex);
}

// ---- Runs ---------------------------------------------------------------------------------------

// A bucket's worth of the download's transient records: [irecFirst, irecLim) of them.
struct DBUCKET {
    uint32_t bucket;
    size_t irecFirst, irecLim;
    SUM sum;
};

// The download's records by the bucket of their lead time. The join gives them in its order, in
// which lead times never fall, so each bucket's records lie together.
std::vector<DBUCKET> RgdbucketOf(RECORDS const& recs)
{
    std::vector<DBUCKET> rgdbucket;
    uint32_t timestampLead = 0;
    for (size_t irec = 0; irec < recs.rgrec.size(); irec++) {
        timestampLead = std::max(timestampLead, recs.rgrec[irec].timestamp);
        uint32_t bucket = timestampLead >> cbitBucket;
        if (rgdbucket.empty() || rgdbucket.back().bucket != bucket)
            rgdbucket.push_back(DBUCKET{bucket, irec, irec, SUM{}});
        DBUCKET& dbucket = rgdbucket.back();
        dbucket.irecLim = irec + 1;
        dbucket.sum.crec++;
        dbucket.sum.digest += HashRecord(PbRecord(recs, irec), recs.rgrec[irec].cb);
    }
    return rgdbucket;
}

constexpr size_t cbucketStretchMax = 128;   // about six days

struct HELDSUM {
    int64_t crec;
    uint64_t digest;
};

bool FReadHeldSums(sqlite3* pdb, uint32_t bucketFirst, uint32_t bucketLast, std::map<uint32_t, HELDSUM>* pmap,
                   std::string* pstrErr)
{
    STMT stmt;
    // The index holds what is compared, so the runs themselves are not read.
    if (!FPrepare(pdb, "SELECT bucket, count, digest FROM records INDEXED BY records_sums WHERE id BETWEEN ? AND ?", &stmt,
                  pstrErr))
        return false;
    BindInt64(&stmt, 1, IdRun(partTransient, bucketFirst));
    BindInt64(&stmt, 2, IdRun(partTransient, bucketLast));
    int rc;
    while ((rc = sqlite3_step(stmt.pstmt)) == SQLITE_ROW)
        (*pmap)[(uint32_t)sqlite3_column_int64(stmt.pstmt, 0)] =
            HELDSUM{sqlite3_column_int64(stmt.pstmt, 1), (uint64_t)sqlite3_column_int64(stmt.pstmt, 2)};
    if (rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the held records");
        return false;
    }
    return true;
}

struct HELDRUN {
    uint32_t bucket;
    size_t irecFirst, irecLim;   // its records in the RECORDS read
};

struct RUNREADER {
    RECORDS* precs;
    std::vector<HELDRUN>* prgrun;
    uint32_t bucketLast;
};

bool FTakeHeldRun(void* pv, uint32_t bucket, uint8_t const* pb, size_t cb)
{
    RUNREADER* preader = (RUNREADER*)pv;
    if (bucket > preader->bucketLast)
        return false;
    size_t irecFirst = preader->precs->rgrec.size();
    AppendRecords(preader->precs, pb, cb);
    preader->prgrun->push_back(HELDRUN{bucket, irecFirst, preader->precs->rgrec.size()});
    return true;
}

// The statements that write runs, prepared once for a download.
struct RUNWRITER {
    sqlite3* pdb;
    STMT stmtPut, stmtDelete;
};

bool FPrepareRunWriter(RUNWRITER* pwriter, sqlite3* pdb, std::string* pstrErr)
{
    pwriter->pdb = pdb;
    return FPrepare(pdb,
                    "INSERT OR REPLACE INTO records (id, part, bucket, time_first, time_last, count, digest, bytes) "
                    "VALUES (?, ?, ?, ?, ?, ?, ?, ?)",
                    &pwriter->stmtPut, pstrErr) &&
           FPrepare(pdb, "DELETE FROM records WHERE id = ?", &pwriter->stmtDelete, pstrErr);
}

// Writes the run of one bucket: records [irecFirst, irecLim) of recs, which lie back to back in
// its own bytes; none removes the run.
bool FWriteRun(RUNWRITER* pwriter, int part, uint32_t bucket, RECORDS const& recs, size_t irecFirst, size_t irecLim,
               std::string* pstrErr)
{
    if (irecFirst >= irecLim) {
        BindInt64(&pwriter->stmtDelete, 1, IdRun(part, bucket));
        return FStepDone(pwriter->pdb, &pwriter->stmtDelete, "can't write the records", pstrErr);
    }
    SUM sum;
    for (size_t irec = irecFirst; irec < irecLim; irec++)
        AddToSum(&sum, recs, irec);
    size_t ibFirst = recs.rgrec[irecFirst].ib;
    size_t ibLim = recs.rgrec[irecLim - 1].ib + recs.rgrec[irecLim - 1].cb;
    STMT* pstmt = &pwriter->stmtPut;
    BindInt64(pstmt, 1, IdRun(part, bucket));
    BindInt64(pstmt, 2, part);
    BindInt64(pstmt, 3, bucket);
    BindInt64(pstmt, 4, sum.timestampFirst);
    BindInt64(pstmt, 5, sum.timestampLast);
    BindInt64(pstmt, 6, sum.crec);
    BindInt64(pstmt, 7, (int64_t)sum.digest);
    BindBlob(pstmt, 8, recs.rgb.data() + ibFirst, ibLim - ibFirst);
    return FStepDone(pwriter->pdb, pstmt, "can't write the records", pstrErr);
}

bool FSameRecords(RECORDS const& recsA, size_t irecA, size_t irecLimA, RECORDS const& recsB, size_t irecB,
                  size_t irecLimB)
{
    if (irecLimA - irecA != irecLimB - irecB)
        return false;
    if (irecA == irecLimA)
        return true;
    size_t cbA = recsA.rgrec[irecLimA - 1].ib + recsA.rgrec[irecLimA - 1].cb - recsA.rgrec[irecA].ib;
    size_t cbB = recsB.rgrec[irecLimB - 1].ib + recsB.rgrec[irecLimB - 1].cb - recsB.rgrec[irecB].ib;
    return cbA == cbB && memcmp(PbRecord(recsA, irecA), PbRecord(recsB, irecB), cbA) == 0;
}

// Merges the download's records of buckets [rgdbucket[idbFirst], rgdbucket[idbLim - 1]] into the
// held runs of those buckets and writes the runs that changed.
bool FMergeStretch(RUNWRITER* pwriter, RECORDS const& recsAdded, std::vector<DBUCKET> const& rgdbucket,
                   size_t idbFirst, size_t idbLim, ADDED* padded, std::vector<uint32_t>* prgbucketChanged,
                   std::string* pstrErr)
{
    uint32_t bucketFirst = rgdbucket[idbFirst].bucket;
    uint32_t bucketLast = rgdbucket[idbLim - 1].bucket;
    RECORDS recsHeld;
    std::vector<HELDRUN> rgrunHeld;
    RUNREADER reader{&recsHeld, &rgrunHeld, bucketLast};
    if (!FReadRuns(pwriter->pdb, partTransient, bucketFirst, FTakeHeldRun, &reader, pstrErr))
        return false;

    RECORDS recsStretch;
    AppendRecordRange(&recsStretch, recsAdded, rgdbucket[idbFirst].irecFirst, rgdbucket[idbLim - 1].irecLim);

    RECORDS recsMerged;
    long cconflict = 0;
    MergeRecords(recsHeld, recsStretch, &recsMerged, &cconflict);
    long crecNew = (long)recsMerged.rgrec.size() - (long)recsHeld.rgrec.size();
    padded->crecNew += crecNew;
    padded->crecHeld += (long)recsStretch.rgrec.size() - crecNew;
    padded->cconflict += cconflict;

    // The merged records by bucket of their lead time. The held runs before the stretch never
    // reach it: every record there lies in a bucket before bucketFirst, and so does its lead time.
    std::vector<bool> rgfProduced(rgrunHeld.size(), false);
    uint32_t timestampLead = 0;
    size_t crecMerged = recsMerged.rgrec.size();
    size_t irec = 0;
    size_t irunHeld = 0;
    while (irec < crecMerged) {
        timestampLead = std::max(timestampLead, recsMerged.rgrec[irec].timestamp);
        uint32_t bucket = timestampLead >> cbitBucket;
        size_t irecRunFirst = irec++;
        while (irec < crecMerged && (std::max(timestampLead, recsMerged.rgrec[irec].timestamp) >> cbitBucket) == bucket) {
            timestampLead = std::max(timestampLead, recsMerged.rgrec[irec].timestamp);
            irec++;
        }
        while (irunHeld < rgrunHeld.size() && rgrunHeld[irunHeld].bucket < bucket)
            irunHeld++;
        bool fHeld = irunHeld < rgrunHeld.size() && rgrunHeld[irunHeld].bucket == bucket;
        if (fHeld)
            rgfProduced[irunHeld] = true;
        if (fHeld && FSameRecords(recsMerged, irecRunFirst, irec, recsHeld, rgrunHeld[irunHeld].irecFirst,
                                  rgrunHeld[irunHeld].irecLim))
            continue;
        if (!FWriteRun(pwriter, partTransient, bucket, recsMerged, irecRunFirst, irec, pstrErr))
            return false;
        prgbucketChanged->push_back(bucket);
    }
    // The merge keeps every held record, so no held run is left empty; should one be, it goes.
    for (size_t irun = 0; irun < rgrunHeld.size(); irun++) {
        if (rgfProduced[irun])
            continue;
        if (!FWriteRun(pwriter, partTransient, rgrunHeld[irun].bucket, recsMerged, 0, 0, pstrErr))
            return false;
        prgbucketChanged->push_back(rgrunHeld[irun].bucket);
    }
    return true;
}

bool FAddTransient(RUNWRITER* pwriter, RECORDS const& recs, ADDED* padded, std::vector<uint32_t>* prgbucketChanged,
                   std::string* pstrErr)
{
    std::vector<DBUCKET> rgdbucket = RgdbucketOf(recs);
    if (rgdbucket.empty())
        return true;
    std::map<uint32_t, HELDSUM> mapHeld;
    if (!FReadHeldSums(pwriter->pdb, rgdbucket.front().bucket, rgdbucket.back().bucket, &mapHeld, pstrErr))
        return false;
    // Stretches of buckets next to one another where the download holds something the runs do not.
    size_t idb = 0;
    while (idb < rgdbucket.size()) {
        auto FDiffers = [&](DBUCKET const& dbucket) {
            auto it = mapHeld.find(dbucket.bucket);
            return it == mapHeld.end() || it->second.crec != dbucket.sum.crec || it->second.digest != dbucket.sum.digest;
        };
        if (!FDiffers(rgdbucket[idb])) {
            padded->crecHeld += rgdbucket[idb].sum.crec;
            idb++;
            continue;
        }
        // A stretch of buckets is merged on its own, so a long one is cut into pieces: what is held
        // in memory stays that of a few days.
        size_t idbLim = idb + 1;
        while (idbLim < rgdbucket.size() && idbLim - idb < cbucketStretchMax &&
               rgdbucket[idbLim].bucket == rgdbucket[idbLim - 1].bucket + 1 && FDiffers(rgdbucket[idbLim]))
            idbLim++;
        if (!FMergeStretch(pwriter, recs, rgdbucket, idb, idbLim, padded, prgbucketChanged, pstrErr))
            return false;
        idb = idbLim;
    }
    return true;
}

// ---- Long-term records ------------------------------------------------------------------------

bool FLessRecord(RECORDS const& recs, size_t irecA, size_t irecB)
{
    RECINFO const& a = recs.rgrec[irecA];
    RECINFO const& b = recs.rgrec[irecB];
    if (a.timestamp != b.timestamp)
        return a.timestamp < b.timestamp;
    if (a.rt != b.rt)
        return a.rt < b.rt;
    int cmp = memcmp(PbRecord(recs, irecA), PbRecord(recs, irecB), std::min(a.cb, b.cb));
    return cmp != 0 ? cmp < 0 : a.cb < b.cb;
}

bool FSameRecord(RECORDS const& recsA, size_t irecA, RECORDS const& recsB, size_t irecB)
{
    return recsA.rgrec[irecA].cb == recsB.rgrec[irecB].cb &&
           memcmp(PbRecord(recsA, irecA), PbRecord(recsB, irecB), recsA.rgrec[irecA].cb) == 0;
}

struct LONGTERMRUNS {
    std::map<uint32_t, RECORDS>* pmap;
    uint32_t bucketLast;
};

bool FTakeLongTermRun(void* pv, uint32_t bucket, uint8_t const* pb, size_t cb)
{
    LONGTERMRUNS* pruns = (LONGTERMRUNS*)pv;
    if (bucket > pruns->bucketLast)
        return false;
    AppendRecords(&(*pruns->pmap)[bucket], pb, cb);
    return true;
}

// Each long-term record once, by bucket of its own time, in order of time, type and bytes, so
// that the runs do not depend on the order downloads come in. The held runs of the download's span
// are read in one go: a long-term part holds the car's whole life, a day or so a bucket.
bool FAddLongTerm(RUNWRITER* pwriter, RECORDS const& recs, ADDED* padded, RECORDS* precsNew, std::string* pstrErr)
{
    if (recs.rgrec.empty())
        return true;
    std::vector<size_t> rgirec(recs.rgrec.size());
    for (size_t i = 0; i < rgirec.size(); i++)
        rgirec[i] = i;
    std::stable_sort(rgirec.begin(), rgirec.end(), [&](size_t a, size_t b) { return FLessRecord(recs, a, b); });
    std::map<uint32_t, RECORDS> mapHeld;
    LONGTERMRUNS runs{&mapHeld, recs.rgrec[rgirec.back()].timestamp >> cbitBucket};
    if (!FReadRuns(pwriter->pdb, partLongTerm, recs.rgrec[rgirec.front()].timestamp >> cbitBucket, FTakeLongTermRun,
                   &runs, pstrErr))
        return false;
    size_t i = 0;
    while (i < rgirec.size()) {
        uint32_t bucket = recs.rgrec[rgirec[i]].timestamp >> cbitBucket;
        size_t iLim = i;
        while (iLim < rgirec.size() && (recs.rgrec[rgirec[iLim]].timestamp >> cbitBucket) == bucket)
            iLim++;
        RECORDS const& recsHeld = mapHeld[bucket];
        RECORDS recsRun = recsHeld;
        for (size_t j = i; j < iLim; j++) {
            size_t irec = rgirec[j];
            bool fHeld = false;
            for (size_t k = 0; k < recsRun.rgrec.size() && !fHeld; k++)
                fHeld = FSameRecord(recsRun, k, recs, irec);
            if (fHeld) {
                padded->crecHeld++;
                continue;
            }
            padded->crecNew++;
            AppendRecord(&recsRun, recs, irec);
            AppendRecord(precsNew, recs, irec);
        }
        if (recsRun.rgrec.size() != recsHeld.rgrec.size()) {
            std::vector<size_t> rgirecRun(recsRun.rgrec.size());
            for (size_t k = 0; k < rgirecRun.size(); k++)
                rgirecRun[k] = k;
            std::stable_sort(rgirecRun.begin(), rgirecRun.end(),
                             [&](size_t a, size_t b) { return FLessRecord(recsRun, a, b); });
            RECORDS recsSorted;
            for (size_t k : rgirecRun)
                AppendRecord(&recsSorted, recsRun, k);
            if (!FWriteRun(pwriter, partLongTerm, bucket, recsSorted, 0, recsSorted.rgrec.size(), pstrErr))
                return false;
        }
        i = iLim;
    }
    return true;
}

// ---- The download's row ------------------------------------------------------------------------

bool FFindDuplicate(sqlite3* pdb, char const* szSha, ADDED* padded, std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb, "SELECT name, added FROM downloads WHERE sha256 = ?", &stmt, pstrErr))
        return false;
    BindText(&stmt, 1, szSha);
    int rc = sqlite3_step(stmt.pstmt);
    if (rc == SQLITE_ROW) {
        padded->fAlreadyAdded = true;
        padded->strNameBefore = (char const*)sqlite3_column_text(stmt.pstmt, 0);
        padded->timestampAddedBefore = sqlite3_column_int64(stmt.pstmt, 1);
        return true;
    }
    if (rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the downloads");
        return false;
    }
    return true;
}

// The car the database holds: the VIN and vehicle type its downloads named, or "" and 0.
bool FReadCar(sqlite3* pdb, std::string* pstrVIN, int* prver, std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb,
                  "SELECT vin, vehicle_type FROM downloads WHERE vin <> '' ORDER BY id LIMIT 1", &stmt, pstrErr))
        return false;
    int rc = sqlite3_step(stmt.pstmt);
    if (rc == SQLITE_ROW) {
        *pstrVIN = (char const*)sqlite3_column_text(stmt.pstmt, 0);
        *prver = (int)sqlite3_column_int64(stmt.pstmt, 1);
        return true;
    }
    if (rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the downloads");
        return false;
    }
    return true;
}

std::string StrBaseName(char const* pszPath)
{
    char const* pszSlash = strrchr(pszPath, '/');
    return pszSlash ? pszSlash + 1 : pszPath;
}

bool FInsertDownload(sqlite3* pdb, char const* pszPath, HASHJOB const& hash, DOWNLOAD const& dl, ADDED const& added,
                     std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb,
                  "INSERT INTO downloads (name, sha256, size, vin, vehicle_type, time_first, time_last, records, "
                  "records_new, records_held, records_skipped, added) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                  &stmt, pstrErr))
        return false;
    BindText(&stmt, 1, StrBaseName(pszPath));
    BindText(&stmt, 2, hash.szHex);
    BindInt64(&stmt, 3, hash.cb);
    BindText(&stmt, 4, dl.szVIN);
    BindInt64(&stmt, 5, dl.rver);
    if (added.timestampFirst != 0) {
        BindInt64(&stmt, 6, added.timestampFirst);
        BindInt64(&stmt, 7, added.timestampLast);
    } else {
        BindNull(&stmt, 6);
        BindNull(&stmt, 7);
    }
    BindInt64(&stmt, 8, added.crec);
    BindInt64(&stmt, 9, added.crecNew);
    BindInt64(&stmt, 10, added.crecHeld);
    BindInt64(&stmt, 11, added.crecSkipped);
    BindInt64(&stmt, 12, (int64_t)time(nullptr));
    return FStepDone(pdb, &stmt, "can't write the download's row", pstrErr);
}

void TakePeriod(RECORDS const& recs, ADDED* padded)
{
    for (RECINFO const& info : recs.rgrec) {
        if (info.timestamp <= timestampNoDate || info.timestamp == timestampErased)
            continue;
        if (padded->timestampFirst == 0 || info.timestamp < padded->timestampFirst)
            padded->timestampFirst = info.timestamp;
        padded->timestampLast = std::max(padded->timestampLast, info.timestamp);
    }
}

// Everything after BEGIN: false leaves the transaction for the caller to roll back; *pfRefused
// tells that the download, not the database, is at fault.
bool FAddInTransaction(HISTDB* phdb, char const* pszPath, HASHJOB const& hash, DOWNLOAD const& dl, PFNSTEP pfnStep,
                       void* pvStep, ADDED* padded, bool* pfRefused, std::string* pstrErr)
{
    sqlite3* pdb = phdb->pdb;
    if (!FFindDuplicate(pdb, hash.szHex, padded, pstrErr) || padded->fAlreadyAdded)
        return true;
    std::string strVIN;
    int rverCar = 0;
    if (!FReadCar(pdb, &strVIN, &rverCar, pstrErr))
        return false;
    if (!strVIN.empty() && dl.szVIN[0] != 0 && strVIN != dl.szVIN) {
        *pstrErr = std::string("'") + pszPath + "' is a download of another car (VIN " + dl.szVIN + "); '" +
                   phdb->strPath + "' holds the history of VIN " + strVIN;
        *pfRefused = true;
        return false;
    }
    int rver = dl.rver != 0 ? dl.rver : rverCar;

    padded->crec = (long)(dl.transient.rgrec.size() + dl.longTerm.rgrec.size());
    padded->crecSkipped = dl.crecSkipped;
    TakePeriod(dl.transient.rgrec.empty() ? dl.longTerm : dl.transient, padded);

    std::vector<uint32_t> rgbucketChanged;
    RECORDS recsLongTermNew;
    RUNWRITER writer;
    if (!FPrepareRunWriter(&writer, pdb, pstrErr) || !FAddTransient(&writer, dl.transient, padded, &rgbucketChanged, pstrErr) ||
        !FAddLongTerm(&writer, dl.longTerm, padded, &recsLongTermNew, pstrErr))
        return false;
    if (pfnStep)
        pfnStep(pvStep, "deriving");
    if (!FDeriveChanged(pdb, rgbucketChanged, recsLongTermNew, rver, dl.timestampLastValid, pstrErr) ||
        !FInsertDownload(pdb, pszPath, hash, dl, *padded, pstrErr))
        return false;
    if (pfnStep)
        pfnStep(pvStep, "writing");
    return true;
}

}  // namespace

namespace {

// The runs of ids idFirst to idLast (both held) handed to pfn in the statement's order, until it says stop.
bool FReadRunsOf(sqlite3* pdb, char const* szSql, int64_t idFirst, int64_t idLast, PFNRUN pfn, void* pv,
                 std::string* pstrErr)
{
    STMT stmt;
    if (!FPrepare(pdb, szSql, &stmt, pstrErr))
        return false;
    BindInt64(&stmt, 1, idFirst);
    BindInt64(&stmt, 2, idLast);
    int rc;
    while ((rc = sqlite3_step(stmt.pstmt)) == SQLITE_ROW) {
        uint8_t const* pb = (uint8_t const*)sqlite3_column_blob(stmt.pstmt, 1);
        size_t cb = (size_t)sqlite3_column_bytes(stmt.pstmt, 1);
        if (!pfn(pv, (uint32_t)sqlite3_column_int64(stmt.pstmt, 0), pb, cb))
            return true;
    }
    if (rc != SQLITE_DONE) {
        *pstrErr = StrSqlError(pdb, rc, "can't read the held records");
        return false;
    }
    return true;
}

}  // namespace

bool FReadRuns(sqlite3* pdb, int part, uint32_t bucketFirst, PFNRUN pfn, void* pv, std::string* pstrErr)
{
    return FReadRunsOf(pdb, "SELECT bucket, bytes FROM records WHERE id BETWEEN ? AND ? ORDER BY id",
                       IdRun(part, bucketFirst), IdRun(part, (uint32_t)(cbucketPart - 1)), pfn, pv, pstrErr);
}

bool FReadRunsBackwards(sqlite3* pdb, int part, uint32_t bucketLast, PFNRUN pfn, void* pv, std::string* pstrErr)
{
    return FReadRunsOf(pdb, "SELECT bucket, bytes FROM records WHERE id BETWEEN ? AND ? ORDER BY id DESC",
                       IdRun(part, 0), IdRun(part, bucketLast), pfn, pv, pstrErr);
}

ADDRESULT AddDownload(HISTDB* phdb, char const* pszPath, PFNSTEP pfnStep, void* pvStep, ADDED* padded,
                      std::string* pstrErr)
{
    *padded = ADDED{};
    if (pfnStep)
        pfnStep(pvStep, "reading");
    HASHJOB hash;
    hash.strPath = pszPath;
    std::thread threadHash(HashFile, &hash);
    DOWNLOAD dl;
    bool fRead = FReadDownload(pszPath, &dl, pstrErr);
    threadHash.join();
    if (!fRead)
        return addRefused;
    if (hash.err != 0) {
        *pstrErr = std::string("can't read '") + pszPath + "': " + strerror(hash.err);
        return addRefused;
    }
    if (dl.fChanged) {
        *pstrErr = std::string("file '") + pszPath + "' changed while it was being read";
        return addRefused;
    }
    if (pfnStep)
        pfnStep(pvStep, "merging");
    bool fRefused = false;
    std::string strWhy;
    if (FExec(phdb->pdb, "BEGIN IMMEDIATE", &strWhy)) {
        if (FAddInTransaction(phdb, pszPath, hash, dl, pfnStep, pvStep, padded, &fRefused, &strWhy) &&
            FExec(phdb->pdb, padded->fAlreadyAdded ? "ROLLBACK" : "COMMIT", &strWhy))
            return addDone;
        sqlite3_exec(phdb->pdb, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    if (fRefused) {
        *pstrErr = strWhy;
        return addRefused;
    }
    *pstrErr = std::string("'") + pszPath + "' not added (" + strWhy + "); '" + phdb->strPath +
               "' is as it was before it";
    return addFailed;
}
