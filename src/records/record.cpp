// The record-type and error-code tables, the timestamp correction, firmware version packing and the
// vehicle information that VINF records carry.
#include "records/record.h"

#include <cstdio>
#include <cstring>

namespace {

struct CODEDESC {
    unsigned short code;
    const char* szDesc;
};

const CODEDESC s_mp_code_desc[] = {
    {52, "VMS: VMS restarted"},
    {53, "VMS: GPS thread was gone for 30 seconds"},
    {412, "Tire Pressure Warning"},
    {413, "Tire Pressure Warning"},
    {414, "Tire Pressure Warning"},
    {415, "Tire Pressure Warning"},
    {416, "Tire Pressure Warning"},
    {1412, "Coolant System Failure"},
};

}  // namespace

void ClearVlr(VLR* pvlr, SECT sect)
{
    memset(pvlr, 0, sizeof *pvlr);
    pvlr->sect = sect;
}

const char* SzFromRt(int rt)
{
    if (rt < 0 || rt >= rtMax)
        return "UNK_TYPE";
    return s_mp_rt_ri[rt].szCode;
}

const char* SzListCodeFromRt(int rt, char* buf5)
{
    if (rt >= 0 && rt < rtMax && s_mp_rt_ri[rt].szCode)
        return s_mp_rt_ri[rt].szCode;
    snprintf(buf5, 5, "XX%02d", rt);
    return buf5;
}

const char* SzDescForErrorCode(unsigned short code)
{
    for (CODEDESC const& cd : s_mp_code_desc) {
        if (cd.code == code)
            return cd.szDesc;
    }
    return nullptr;
}

namespace {

// The decimal digits of a byte's value at pch; returns where they end.
char* PchByteDigits(char* pch, unsigned int b)
{
    if (b >= 100)
        *pch++ = (char)('0' + b / 100);
    if (b >= 10)
        *pch++ = (char)('0' + b / 10 % 10);
    *pch++ = (char)('0' + b % 10);
    return pch;
}

}  // namespace

int CchFirmwareVersion(unsigned int vers, char* pch)
{
    char* pchEnd = PchByteDigits(pch, vers >> 24);
    *pchEnd++ = '.';
    pchEnd = PchByteDigits(pchEnd, (vers >> 16) & 0xFF);
    *pchEnd++ = '.';
    pchEnd = PchByteDigits(pchEnd, (vers >> 8) & 0xFF);
    *pchEnd++ = ' ';
    pchEnd = PchByteDigits(pchEnd, vers & 0xFF);
    return (int)(pchEnd - pch);
}

char* FormatFirmwareVersion(unsigned int vers, char* buf, int cb)
{
    if (cb <= 0)
        return buf;
    char rgch[cchFirmwareVersionMax];
    int cch = CchFirmwareVersion(vers, rgch);
    if (cch > cb - 1)
        cch = cb - 1;
    memcpy(buf, rgch, (size_t)cch);
    buf[cch] = 0;
    return buf;
}

unsigned int VersFirmwareFromRecord(unsigned char const* rec)
{
    return (unsigned int)rec[14] << 24 | (unsigned int)rec[13] << 16 | (unsigned int)rec[12] << 8 | rec[18];
}

void SetFirmwareVersionInRecord(unsigned int vers, unsigned char* rec, int cb)
{
    if (cb <= 18 || rec[3] != rtVINF)
        return;
    rec[14] = (unsigned char)(vers >> 24);
    rec[13] = (unsigned char)(vers >> 16);
    rec[12] = (unsigned char)(vers >> 8);
    rec[18] = (unsigned char)vers;
}

VEHICLE VehicleUnknown()
{
    VEHICLE vehicle{};
    vehicle.pszRoadsterVersion = "";
    return vehicle;
}

void NoteVehicleInfo(VEHICLE* pvehicle, unsigned char const* rec)
{
    pvehicle->versFirmware = VersFirmwareFromRecord(rec);
    memcpy(pvehicle->achVIN, rec + ibVIN, cchVIN);
    pvehicle->achVIN[cchVIN] = 0;
    pvehicle->rver = rec[ibVehicleType];
    pvehicle->pszRoadsterVersion = SzRoadsterVersion(pvehicle->rver);
}

const char* SzRoadsterVersion(int rver)
{
    switch (rver) {
    case 3:
        return "V1.5 Roadster";
    case 4:
    case 5:
        return "V2.x Roadster";
    default:
        return "Unknown Vehicle Type";
    }
}
