// Where the fuzz targets keep their scratch files: under $TMPDIR when it is set, so that a run can
// give each target a folder of its own and remove it afterwards.
#pragma once
#include <cstdlib>
#include <string>

// A mkdtemp/mkstemp template for the named target.
inline std::string StrTempTemplate(const char* szTarget)
{
    const char* szTmp = getenv("TMPDIR");
    return std::string(szTmp && *szTmp ? szTmp : "/tmp") + "/qf-fuzz-" + szTarget + "-XXXXXX";
}
