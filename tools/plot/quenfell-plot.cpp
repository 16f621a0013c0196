// quenfell-plot: turns a battery study report (the output of `quenfell -b`) into one self-contained
// HTML page of charts. Reads the report from a file or standard input, writes the page to standard
// output or to the file named with -o.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "page.h"
#include "report.h"

namespace {

constexpr const char* s_szUsage = "usage: quenfell-plot [-o page.html] [report.txt|-]\n";

REPORT s_report;   // about a megabyte: the capacity and firmware tables at full size

bool FReadAll(FILE* pfile, std::string* pstr)
{
    char ach[65536];
    size_t cb;
    while ((cb = std::fread(ach, 1, sizeof(ach), pfile)) > 0)
        pstr->append(ach, cb);
    return !std::ferror(pfile);
}

int Fail(const char* szWhat, const char* szPath)
{
    std::fprintf(stderr, "quenfell-plot: %s '%s': %s\n", szWhat, szPath, std::strerror(errno));
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* pszInput = nullptr;
    const char* pszOutput = nullptr;
    for (int iarg = 1; iarg < argc; iarg++) {
        const char* psz = argv[iarg];
        if (std::strcmp(psz, "-h") == 0 || std::strcmp(psz, "--help") == 0) {
            std::fputs(s_szUsage, stdout);
            return 0;
        }
        if (std::strcmp(psz, "-o") == 0 && iarg + 1 < argc) {
            pszOutput = argv[++iarg];
        } else if ((psz[0] != '-' || psz[1] == 0) && !pszInput) {
            pszInput = psz;
        } else {
            std::fputs(s_szUsage, stderr);
            return 1;
        }
    }

    std::string strReport;
    const char* pszName = pszInput && std::strcmp(pszInput, "-") != 0 ? pszInput : nullptr;
    if (pszName) {
        FILE* pfile = std::fopen(pszName, "rb");
        if (!pfile)
            return Fail("can't open", pszName);
        bool fOk = FReadAll(pfile, &strReport);
        int errnoRead = errno;
        std::fclose(pfile);
        errno = errnoRead;
        if (!fOk)
            return Fail("can't read", pszName);
    } else if (!FReadAll(stdin, &strReport)) {
        return Fail("can't read", "-");
    }

    PARSEERR err;
    if (!FParseReport(strReport.data(), strReport.size(), &s_report, &err)) {
        std::fprintf(stderr, "quenfell-plot: line %d: %s\n", err.iLine, err.achMsg);
        return 1;
    }
    std::string strPage;
    WritePage(&s_report, &strPage);

    // The output file is opened only now, so a report that does not read leaves an older page alone.
    FILE* pfileOut = stdout;
    if (pszOutput) {
        pfileOut = std::fopen(pszOutput, "wb");
        if (!pfileOut)
            return Fail("can't create", pszOutput);
    }
    bool fOk = std::fwrite(strPage.data(), 1, strPage.size(), pfileOut) == strPage.size();
    fOk = std::fflush(pfileOut) == 0 && fOk;
    if (pszOutput)
        fOk = std::fclose(pfileOut) == 0 && fOk;
    if (!fOk)
        return Fail("can't write", pszOutput ? pszOutput : "-");
    return 0;
}
