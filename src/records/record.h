// The VMS log record: framing, header, record types, body layouts, the decoded form (VLR) and the
// small functions that every reader of records shares.
#pragma once

#include <cstdint>

// Record header: the first ten bytes of every record, little-endian.
struct RH {
    uint8_t start[2];   // 0x03 0x02
    uint8_t cb;         // bytes from this byte to the end of the record; length = cb + 2
    uint8_t rt;         // record type
    uint8_t t2;         // type-specific flags (IDLE, D10M)
    uint8_t t3;         // type-specific (VINF: bit 7 = long-term part; C30M: sub-kind)
    uint8_t date[4];    // raw timestamp, before the 1024-week correction
};
static_assert(sizeof(RH) == 10);

constexpr int cbRecordHeader = 10;
constexpr int cbRecordMax = 257;      // cb is one byte
constexpr int cbRecordBuffer = 272;   // room for the largest record and some zero padding

enum RT {
    rtNil = 0,
    rtVINF = 1,
    rtXX03 = 3,
    rtXX04 = 4,
    rtXX05 = 5,
    rtDAY = 6,
    rtIDLE = 7,
    rtC1MA = 8,
    rtC30M = 9,
    rtDR1S = 10,
    rtDR1M = 11,
    rtD10M = 12,
    rtTPMS = 20,
    rtERR = 23,
    rtC1MB = 24,
};
constexpr int rtMax = 25;   // rows of s_mp_rt_ri

// Which part of the log a record or pass belongs to.
enum SECT { sectNil = 0, sectLongTerm = 1, sectTransient = 2 };

// VLR.grf bits: which fields hold a value for the current record.
constexpr uint32_t fvlrOdometer = 0x00000001;
constexpr uint32_t fvlrSOC = 0x00000002;
constexpr uint32_t fvlrSpeed = 0x00000004;
constexpr uint32_t fvlrPower = 0x00000008;
constexpr uint32_t fvlrPedal = 0x00000010;
constexpr uint32_t fvlrBrake = 0x00000020;
constexpr uint32_t fvlrRegen = 0x00000040;
constexpr uint32_t fvlrTC = 0x00000080;
constexpr uint32_t fvlrEnergy = 0x00000100;
constexpr uint32_t fvlrDistance = 0x00000200;
constexpr uint32_t fvlrAmpsAvailable = 0x00000400;
constexpr uint32_t fvlrError = 0x00000800;
constexpr uint32_t fvlrChargeAmps = 0x00001000;
constexpr uint32_t fvlrLineVolts = 0x00002000;
constexpr uint32_t fvlrTPMS = 0x00004000;
constexpr uint32_t fvlrTorque = 0x00008000;
constexpr uint32_t fvlrBrickVolts = 0x00010000;
constexpr uint32_t fvlrBrickAh = 0x00020000;
constexpr uint32_t fvlrElevation = 0x00040000;
constexpr uint32_t fvlrTempPEM = 0x00080000;
constexpr uint32_t fvlrTempMotor = 0x00100000;
constexpr uint32_t fvlrTempCoolant = 0x00200000;
constexpr uint32_t fvlrTempESS = 0x00400000;
constexpr uint32_t fvlrTempMotor2 = 0x00800000;
constexpr uint32_t fvlrDaily = 0x01000000;
constexpr uint32_t fvlrVehicleInfo = 0x02000000;
constexpr uint32_t fvlrMotorAmps = 0x04000000;
constexpr uint32_t fvlrCooling = 0x08000000;
constexpr uint32_t fvlrCAC = 0x10000000;
constexpr uint32_t fvlrDesc = 0x80000000;

// One decoded record. Plain and fixed-size; the four running sums (milesDrive, whDrive, ahOut,
// ahIn) grow across records until the owner clears the VLR.
struct VLR {
    int32_t sect;            // SECT, set by whoever clears the VLR
    int32_t rt;
    uint32_t timestamp;      // corrected
    uint32_t grf;
    char achVIN[17];         // not terminated
    uint32_t versFirmware;
    double milesOdo;
    int32_t pctSOC;
    double mphSpeed;
    double lbftTorque;
    double ampsESS;
    double ampsMotor;
    double voltsESS;
    double voltsBrickMin;
    double voltsBrickMax;
    double ahBrickAve;
    double ahBrickMin;
    uint8_t iBrickAhMin;
    uint8_t iBrickVMin;
    uint8_t iBrickVMax;
    uint8_t bPedal;
    uint8_t fBrake;
    uint8_t fRegen;
    uint8_t fTCOff;
    double milesDrive;
    double whDrive;
    double ahOut;
    double ahIn;
    int32_t ampsAvailable;
    uint16_t codeError;
    double ampsCharge;
    double voltsLine;
    int16_t mElevation;
    double rgpsiTire[4];
    int32_t rgdegTire[4];
    double degPEM;
    double degMotor;
    double degCoolant;
    double degESSMin;
    double degESSMax;
    double degMotor2;
    int32_t nCooling;
    double ahCAC;
    char szDesc[256];
};

// The selections a record type belongs to: the -d and -c listings, and the types the battery study
// keeps from the transient ring.
constexpr unsigned fselDrive = 0x1;
constexpr unsigned fselCharge = 0x2;
constexpr unsigned fselBattery = 0x4;

// Decodes a record's body (at least cbFieldsMax bytes readable, zero past the record) into the
// VLR; rver is the vehicle type of the last VINF record.
typedef void (*PFNDECODE)(unsigned char const* pb, int rver, VLR* pvlr);

// One row per record type: everything that depends on the type is here.
struct RI {
    int rt;
    const char* szCode;   // null for types without a code
    const char* szDesc;   // null for types without a code
    PFNDECODE pfnDecode;  // null: nothing to decode beyond the header
    uint32_t grfvlr;      // the fields its decoder always sets
    unsigned grfsel;      // fsel* selections
};
extern const RI s_mp_rt_ri[rtMax];
// The record types (bits of a grfRt) of every selection in grfsel.
unsigned GrfRtOfSelection(unsigned grfsel);

// The highest offset any decoded field reaches, rounded up: a decoder may read this many bytes.
constexpr int cbFieldsMax = 48;

// The bytes a one-second drive record's decoder reads: such a record of at least this many bytes
// decodes the same where it lies, with nothing readable after it, as padded.
constexpr int cbDr1sFields = 25;

// Decodes the record at pb (cbFieldsMax bytes readable, zero past the record's end) into the VLR:
// type, corrected timestamp, the fields and their grf bits. The running sums grow; nothing else
// outside the VLR is read or written. rver is the vehicle type of the last VINF record.
void DecodeRecord(unsigned char const* pb, int rver, VLR* pvlr);
// DecodeRecord for a one-second drive record (type rtDR1S) of at least cbDr1sFields bytes, which may
// lie where it was found: the walks' most common record, decoded without the table's dispatch.
void DecodeDr1sRecord(unsigned char const* pb, int rver, VLR* pvlr);

// VINF layout shared by the decoder and the vehicle information.
constexpr int ibVehicleType = 14;
constexpr int ibVIN = 22;
constexpr int cchVIN = 17;

// Raw dates in this window are 1024 weeks behind (the cars' clocks rolled back in April 2019).
constexpr uint32_t dateRawCorrectFirst = 935193601u;
constexpr uint32_t dateRawCorrectLast = 1199145599u;
constexpr uint32_t secWeeks1024 = 619315200u;

// The raw header date corrected by 1024 weeks where its window says so. Inline: every walk reads
// one per record, and a call would read the header back through memory it has just been copied to.
inline uint32_t TimestampFromRaw(uint32_t dateRaw)
{
    if (dateRaw >= dateRawCorrectFirst && dateRaw <= dateRawCorrectLast)
        return dateRaw + secWeeks1024;
    return dateRaw;
}
inline uint32_t TimestampFromRh(RH const* prh)
{
    uint32_t dateRaw = (uint32_t)prh->date[0] | (uint32_t)prh->date[1] << 8 | (uint32_t)prh->date[2] << 16 |
                       (uint32_t)prh->date[3] << 24;
    return TimestampFromRaw(dateRaw);
}
// 1 when 978307201 <= timestamp <= 0xFFFFFFFE and timestamp < timestampLastValid + 30 days (wrapping).
inline int FValidTimestamp(unsigned int timestamp, unsigned int timestampLastValid)
{
    constexpr uint32_t timestampFirstCredible = 978307201u;   // just after 2001-01-01 00:00:00 UTC
    constexpr uint32_t secCredibleAhead = 2592000u;           // 30 days
    if (timestamp < timestampFirstCredible || timestamp == 0xFFFFFFFFu)
        return 0;
    // The bound wraps on purpose: a last-valid time near the top of the range admits nothing.
    return timestamp < (unsigned int)(timestampLastValid + secCredibleAhead);
}
void ClearVlr(VLR* pvlr, SECT sect);
// The type's code, "UNK_TYPE" above 24, null for a type without a code.
const char* SzFromRt(int rt);
// The code a listing prints: the table's code, else "XX%02d" cut to four characters.
const char* SzListCodeFromRt(int rt, char* buf5);
const char* SzDescForErrorCode(unsigned short code);
// A firmware version as "a.b.c d" (each part a byte, in decimal), without its terminating zero, at
// pch: at most cchFirmwareVersionMax bytes; returns how many. FormatFirmwareVersion writes the same
// into buf, cut to cb - 1 characters and terminated.
constexpr int cchFirmwareVersionMax = 15;
int CchFirmwareVersion(unsigned int vers, char* pch);
char* FormatFirmwareVersion(unsigned int vers, char* buf, int cb);
unsigned int VersFirmwareFromRecord(unsigned char const* rec);
void SetFirmwareVersionInRecord(unsigned int vers, unsigned char* rec, int cb);

// What the VINF records of a log tell about the car: kept by the run from the last one decoded.
struct VEHICLE {
    unsigned int versFirmware;
    char achVIN[18];                  // terminated; empty before the first VINF record
    int rver;                         // vehicle type (VINF byte 14), 0 before the first VINF record
    const char* pszRoadsterVersion;   // SzRoadsterVersion(rver); "" before the first VINF record
};
// A vehicle that no VINF record has described yet.
VEHICLE VehicleUnknown();
// Takes the vehicle information of a VINF record (at least 40 bytes readable).
void NoteVehicleInfo(VEHICLE* pvehicle, unsigned char const* rec);
// The display name of a vehicle type (VINF byte 14): "V1.5 Roadster", "V2.x Roadster" or
// "Unknown Vehicle Type".
const char* SzRoadsterVersion(int rver);
