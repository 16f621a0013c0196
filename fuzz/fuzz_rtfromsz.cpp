// Fuzz target for the -r value: any text as a record type. Plain decimal text that fits must give
// its value, and a type code must give its own row of the table.
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

#include "driver/options.h"
#include "records/record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string strText((const char*)data, size);
    const char* psz = strText.c_str();
    unsigned long rt = RtFromSz(psz);

    size_t cch = strlen(psz);
    if (cch > 0 && cch <= 9 && strspn(psz, "0123456789") == cch && rt != strtoul(psz, nullptr, 10))
        abort();
    for (int rtRow = 0; rtRow < rtMax; rtRow++) {
        if (s_mp_rt_ri[rtRow].szCode && strcasecmp(psz, s_mp_rt_ri[rtRow].szCode) == 0 && rt != (unsigned long)rtRow)
            abort();
    }
    return 0;
}
