// Decoding one record into a VLR: the record-type table and a decoder per body layout. Nothing
// here prints or keeps state; what a record means for the run is for its consumers to take.
#include "records/record.h"

#include <cstdio>
#include <cstring>

namespace {

inline unsigned U16(unsigned char const* pb, int ib) { return (unsigned)pb[ib] | (unsigned)pb[ib + 1] << 8; }
inline int I16(unsigned char const* pb, int ib) { return (int16_t)U16(pb, ib); }
inline uint32_t U32(unsigned char const* pb, int ib) { return U16(pb, ib) | (uint32_t)U16(pb, ib + 2) << 16; }

// Input events (XX03): a code and a state (-1 for any state).
struct EVENTDESC {
    unsigned char code;
    int state;
    const char* sz;
};

const EVENTDESC s_mp_event_desc[] = {
    {0x03, 2, "charging completed"},
    {0x05, 2, "charging completed"},
    {0x98, 2, "charging completed"},
    {0x08, -1, "remove key"},
    {0x09, 2, "wake car"},
    {0x09, 3, "turn off car"},
    {0x0A, -1, "wake car"},
    {0x16, -1, "wake car"},
    {0x18, -1, "wake car"},
    {0x88, -1, "wake car"},
    {0x89, -1, "wake car"},
    {0x8A, -1, "wake car"},
    {0x1E, -1, "log download complete"},
    {0x83, 2, "charging started, flashing yellow"},
    {0x85, 2, "charging started, flashing yellow"},
    {0x96, 2, "slide charge connector switch to on/locked"},
    {0x9E, -1, "insert flash drive / download vehicle log"},
};

const char* SzForInputEvent(unsigned code, unsigned state)
{
    for (EVENTDESC const& ed : s_mp_event_desc) {
        if (ed.code == code && (ed.state < 0 || (unsigned)ed.state == state))
            return ed.sz;
    }
    return "?";
}

constexpr uint32_t grfVinf = fvlrDesc | fvlrVehicleInfo;
constexpr uint32_t grfDay = fvlrCAC | fvlrDaily | fvlrBrickAh | fvlrSOC | fvlrOdometer;
constexpr uint32_t grfIdle = fvlrTempESS | fvlrBrickVolts;
constexpr uint32_t grfC1ma = fvlrTempESS | fvlrTempCoolant | fvlrLineVolts | fvlrChargeAmps;
constexpr uint32_t grfDr1s = fvlrMotorAmps | fvlrTorque | fvlrDistance | fvlrEnergy | fvlrTC | fvlrRegen |
                             fvlrBrake | fvlrPedal | fvlrPower | fvlrSpeed;
constexpr uint32_t grfDr1m = fvlrTempESS | fvlrTempCoolant | fvlrTempMotor | fvlrTempPEM;
constexpr uint32_t grfC1mb = fvlrCooling | fvlrTempESS | fvlrTempCoolant | fvlrBrickVolts | fvlrLineVolts |
                             fvlrChargeAmps | fvlrPower;
static_assert(grfVinf == 0x82000000 && grfDay == 0x11020003 && grfIdle == 0x00410000 &&
              grfC1ma == 0x00603000 && grfDr1s == 0x040083FC && grfDr1m == 0x00780000 &&
              grfC1mb == 0x08613008);

void DecodeXx03(unsigned char const* pb, int, VLR* pvlr)
{
    snprintf(pvlr->szDesc, sizeof pvlr->szDesc, "%s", SzForInputEvent(pb[10], pb[11]));
}

// Before 2001 the car's clock had not been set: the record is from the factory ("H").
constexpr uint32_t timestampClockSet = 978307200u;
constexpr unsigned char bVinfLongTerm = 0x80;
constexpr unsigned char bIdleHasSOC = 0x10;
constexpr unsigned char bD10mHasElevation = 0x01;
constexpr unsigned cbD10mWithOdometer = 21;   // count byte from which the odometer is present

void DecodeVinf(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    pvlr->versFirmware = VersFirmwareFromRecord(pb);
    memcpy(pvlr->achVIN, pb + ibVIN, cchVIN);
    char chKind = 'T';
    if (pvlr->timestamp < timestampClockSet)
        chKind = 'H';
    else if (pb[5] & bVinfLongTerm)
        chKind = 'L';
    // "K VIN 'version'", the VIN up to its first zero byte; far shorter than the description's room.
    static_assert(sizeof pvlr->szDesc > 2 + cchVIN + 2 + cchFirmwareVersionMax + 2);
    char* pch = pvlr->szDesc;
    *pch++ = chKind;
    *pch++ = ' ';
    for (int ich = 0; ich < cchVIN && pvlr->achVIN[ich] != 0; ich++)
        *pch++ = pvlr->achVIN[ich];
    *pch++ = ' ';
    *pch++ = '\'';
    pch += CchFirmwareVersion(pvlr->versFirmware, pch);
    *pch++ = '\'';
    *pch = 0;
}

void DecodeDay(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    pvlr->milesOdo = U32(pb, 30) * 0.1;
    pvlr->ahBrickAve = (double)(U16(pb, 34) * 467) / 8192;
    pvlr->ahBrickMin = (double)(U16(pb, 36) * 467) / 8192;
    pvlr->ahCAC = U16(pb, 36) / 17.5039;
    pvlr->iBrickAhMin = pb[38];
    pvlr->pctSOC = pb[39];
}

void DecodeIdle(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    pvlr->degESSMin = I16(pb, 12) / 256.0;
    pvlr->degESSMax = I16(pb, 14) / 256.0;
    pvlr->voltsBrickMin = U16(pb, 18) / 8192.0;
    pvlr->voltsBrickMax = U16(pb, 20) / 8192.0;
    pvlr->iBrickVMin = pb[22];
    pvlr->iBrickVMax = pb[23];
    if (pb[4] & bIdleHasSOC) {
        pvlr->pctSOC = pb[16];
        pvlr->grf |= fvlrSOC;
    }
}

void DecodeC1ma(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    double ampsIn = I16(pb, 16) * 0.03125;
    if (ampsIn > 0)
        pvlr->ahIn += ampsIn / 60;
    else
        pvlr->ahOut -= ampsIn / 60;
    pvlr->ampsCharge = U16(pb, 18) / 327.68;
    pvlr->voltsLine = U16(pb, 20) / 131.072;
    pvlr->degCoolant = pb[25] * 0.5 - 30;
    pvlr->degESSMin = U16(pb, 38) / 256.0;
    pvlr->degESSMax = U16(pb, 40) / 256.0;
}

void DecodeC30m(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    // Sub-kind (t3) -> where the SOC and the offered current lie; 0 = not carried.
    static const unsigned char s_mp_kind_ibSOC[4] = {17, 21, 0, 17};
    static const unsigned char s_mp_kind_ibAmps[4] = {16, 16, 0, 14};
    unsigned kind = pb[5];
    if (kind >= 4)
        return;
    if (s_mp_kind_ibSOC[kind]) {
        pvlr->pctSOC = pb[s_mp_kind_ibSOC[kind]];
        pvlr->grf |= fvlrSOC;
    }
    if (s_mp_kind_ibAmps[kind]) {
        pvlr->ampsAvailable = pb[s_mp_kind_ibAmps[kind]];
        pvlr->grf |= fvlrAmpsAvailable;
    }
}

void DecodeDr1s(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    unsigned bFlags = pb[24];
    double sign = (bFlags & 0x01) ? 1.0 : -1.0;
    pvlr->voltsESS = I16(pb, 10) * 0.5;
    pvlr->ampsESS = I16(pb, 12) * -0.03125;
    pvlr->mphSpeed = I16(pb, 14) * 0.1;
    // Multiplying by these reciprocals gives, for every 16-bit count and either sign, exactly the
    // double that dividing by 65.536 and 163.84 gives (a test checks them all), without a division.
    constexpr double rMotorAmps = 1 / 65.536;
    constexpr double rTorque = 1 / 163.84;
    pvlr->ampsMotor = U16(pb, 16) * sign * rMotorAmps;
    pvlr->lbftTorque = U16(pb, 20) * sign * rTorque * 0.737562;
    pvlr->bPedal = pb[22];
    pvlr->fBrake = (bFlags >> 2) & 1;
    pvlr->fRegen = (bFlags >> 3) & 1;
    pvlr->fTCOff = (bFlags >> 6) & 1;
    if (pvlr->ampsESS > 0)
        pvlr->ahOut += pvlr->ampsESS / 3600;
    else
        pvlr->ahIn -= pvlr->ampsESS / 3600;
    pvlr->milesDrive += pvlr->mphSpeed / 3600;
    pvlr->whDrive += pvlr->voltsESS * pvlr->ampsESS / 3600;
}

void DecodeDr1m(unsigned char const* pb, int rver, VLR* pvlr)
{
    pvlr->degPEM = pb[17] * 0.5;
    pvlr->degMotor = rver == 3 ? I16(pb, 18) / 256.0 : (double)pb[18];
    pvlr->degCoolant = pb[20] * 0.5 - 30;
    pvlr->degESSMin = I16(pb, 26) / 256.0;
    pvlr->degESSMax = I16(pb, 28) / 256.0;
    if (rver >= 4) {
        pvlr->degMotor2 = pb[34];
        pvlr->grf |= fvlrTempMotor2;
    }
}

void DecodeD10m(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    pvlr->pctSOC = pb[15];
    if (pb[2] >= cbD10mWithOdometer) {
        pvlr->milesOdo = U32(pb, 18) * 0.1;
        pvlr->grf |= fvlrOdometer;
    }
    if (pb[4] & bD10mHasElevation) {
        pvlr->mElevation = (int16_t)I16(pb, 10);
        pvlr->grf |= fvlrElevation;
    }
}

void DecodeTpms(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    for (int i = 0; i < 4; i++) {
        pvlr->rgpsiTire[i] = pb[10 + 2 * i] / 2.56;
        pvlr->rgdegTire[i] = pb[11 + 2 * i];
    }
}

void DecodeErr(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    pvlr->codeError = (uint16_t)U16(pb, 14);
    char* psz = pvlr->szDesc;
    int cchMax = (int)sizeof pvlr->szDesc;
    int cch = 0;
    psz[0] = 0;
    if (const char* szKnown = SzDescForErrorCode(pvlr->codeError))
        cch = snprintf(psz, (size_t)cchMax, "(%s)", szKnown);
    unsigned cbData = pb[16];
    if (cbData != 0 && cch < cchMax)
        snprintf(psz + cch, (size_t)(cchMax - cch), "%s%u bytes", cch ? " " : "", cbData);
    if (psz[0])
        pvlr->grf |= fvlrDesc;
}

void DecodeC1mb(unsigned char const* pb, [[maybe_unused]] int rver, VLR* pvlr)
{
    pvlr->voltsESS = U16(pb, 10) / 2.048;
    pvlr->ampsESS = I16(pb, 12) * 0.03125;
    pvlr->ampsCharge = U16(pb, 14) / 327.68;
    pvlr->voltsLine = U16(pb, 16) / 131.072;
    pvlr->degCoolant = pb[21] * 0.5 - 30;
    pvlr->nCooling = pb[22];
    pvlr->voltsBrickMin = U16(pb, 26) / 8192.0;
    pvlr->voltsBrickMax = U16(pb, 28) / 8192.0;
    pvlr->iBrickVMin = pb[30];
    pvlr->iBrickVMax = pb[31];
    pvlr->degESSMin = U16(pb, 34) / 256.0;
    pvlr->degESSMax = U16(pb, 36) / 256.0;
}

}  // namespace

// Codes and descriptions are printed by the help screen and the statistics: kept byte for byte,
// question marks included.
const RI s_mp_rt_ri[rtMax] = {
    {0, nullptr, nullptr, nullptr, 0, 0},
    {1, "VINF", "Vehicle Info: VIN, firmware version", DecodeVinf, grfVinf, fselBattery},
    {2, nullptr, nullptr, nullptr, 0, 0},
    {3, "XX03", "Input Events?", DecodeXx03, fvlrDesc, 0},
    {4, "XX04", "Car Operating State?", nullptr, 0, 0},
    {5, "XX05", "", nullptr, 0, 0},
    {6, "DAY", "Daily Status (stored in permanent section)", DecodeDay, grfDay, 0},
    {7, "IDLE", "Status every 60 minutes when idle", DecodeIdle, grfIdle, fselDrive | fselCharge | fselBattery},
    {8, "C1MA", "1-minute charge status, version 1.5 (2008) Roadsters", DecodeC1ma, grfC1ma,
     fselCharge | fselBattery},
    {9, "C30M", "30-minute charge status", DecodeC30m, 0, fselCharge},
    {10, "DR1S", "1-second drive status", DecodeDr1s, grfDr1s, fselDrive},
    {11, "DR1M", "1-minute drive status", DecodeDr1m, grfDr1m, fselDrive | fselBattery},
    {12, "D10M", "10-minute drive status", DecodeD10m, fvlrSOC, fselDrive | fselBattery},
    {13, nullptr, nullptr, nullptr, 0, 0},
    {14, nullptr, nullptr, nullptr, 0, 0},
    {15, nullptr, nullptr, nullptr, 0, 0},
    {16, nullptr, nullptr, nullptr, 0, 0},
    {17, nullptr, nullptr, nullptr, 0, 0},
    {18, nullptr, nullptr, nullptr, 0, 0},
    {19, nullptr, nullptr, nullptr, 0, 0},
    {20, "TPMS", "Tire Pressure Monitor System", DecodeTpms, fvlrTPMS, 0},
    {21, nullptr, nullptr, nullptr, 0, 0},
    {22, nullptr, nullptr, nullptr, 0, 0},
    {23, "ERR", "Error message (stored in permanent section)", DecodeErr, fvlrError, 0},
    {24, "C1MB", "1-minute charge status, version 2.x (2010+) Roadsters", DecodeC1mb, grfC1mb,
     fselCharge | fselBattery},
};

unsigned GrfRtOfSelection(unsigned grfsel)
{
    unsigned grfRt = 0;
    for (RI const& ri : s_mp_rt_ri) {
        if (ri.grfsel & grfsel)
            grfRt |= 1u << ri.rt;
    }
    return grfRt;
}

void DecodeDr1sRecord(unsigned char const* pb, int rver, VLR* pvlr)
{
    pvlr->rt = rtDR1S;
    pvlr->timestamp = TimestampFromRh((RH const*)pb);
    pvlr->grf = grfDr1s;
    DecodeDr1s(pb, rver, pvlr);
}

void DecodeRecord(unsigned char const* pb, int rver, VLR* pvlr)
{
    pvlr->rt = pb[3];
    pvlr->timestamp = TimestampFromRh((RH const*)pb);
    pvlr->grf = 0;
    if (pb[3] >= rtMax)
        return;
    RI const& ri = s_mp_rt_ri[pb[3]];
    pvlr->grf = ri.grfvlr;
    if (ri.pfnDecode)
        ri.pfnDecode(pb, rver, pvlr);
}
