// Decoding records into a VLR: every record type's fields and validity bits, the running sums,
// the vehicle information, short records, the tally, and the battery-study hook.
#include <gtest/gtest.h>

#include <cstring>

#include "records/scanner.h"
#include "records/tagstats.h"
#include "testsupport/logbuilder.h"

namespace {

constexpr uint32_t dateApr2019 = 1554552000u;   // 2019-04-06 12:00:00 UTC

class Decode : public testing::Test {
protected:
    void SetUp() override
    {
        InitScanState(&scan);
        ClearVlr(&vlr, sectTransient);
    }

    void Scan(Rec const& rec) { Scan(rec.Get()); }
    void Scan(Bytes const& bytes) { ScanRecord(&scan, bytes.data(), (int)bytes.size(), 0, &vlr); }
    // A DR1S record scanned as above, and decoded where it lies from its first cbDr1sFields bytes
    // alone (held in a buffer of just that size, so that a read past them is caught): the same VLR.
    void ScanDr1s(Rec const& rec)
    {
        VLR vlrDirect = vlr;
        Scan(rec);
        Bytes bytes = rec.Get();
        std::vector<unsigned char> rgbFields(bytes.begin(), bytes.begin() + cbDr1sFields);
        DecodeDr1sRecord(rgbFields.data(), scan.vehicle.rver, &vlrDirect);
        EXPECT_EQ(memcmp(&vlrDirect, &vlr, sizeof vlr), 0);
    }

    SCANSTATE scan;
    VLR vlr;
};

TEST_F(Decode, VinfLettersAndVehicleInfo)
{
    struct {
        uint32_t dateRaw;
        bool fLongTerm;
        int a;
        const char* szVin;
        const char* szDesc;
        const char* szVehicle;
    } const rgcase[] = {
        {900000000u, true, 4, "SFZRE8B19A3000123", "H SFZRE8B19A3000123 '4.1.2 5'", "V2.x Roadster"},   // before 2001
        {dateApr2019, true, 3, "SFZRE8B19A3000123", "L SFZRE8B19A3000123 '3.1.2 5'", "V1.5 Roadster"},
        {dateApr2019, false, 5, "SFZRE8B19A3000123", "T SFZRE8B19A3000123 '5.1.2 5'", "V2.x Roadster"},
        {dateApr2019, false, 6, "SFZRE8B19A3000123", "T SFZRE8B19A3000123 '6.1.2 5'", "Unknown Vehicle Type"},
        // 2001-01-01 00:00:00 exactly is no longer "H"
        {978307200u, false, 4, "SFZRE8B19A3000123", "T SFZRE8B19A3000123 '4.1.2 5'", "V2.x Roadster"},
        // A VIN ends at its first zero byte; version parts of two and three digits.
        {dateApr2019, false, 10, "SFZ", "T SFZ '10.1.2 5'", "Unknown Vehicle Type"},
        {dateApr2019, false, 255, "", "T  '255.1.2 5'", "Unknown Vehicle Type"},
    };
    for (auto const& c : rgcase) {
        Scan(VinfRec(c.dateRaw, c.fLongTerm, c.szVin, c.a, 1, 2, 5));
        EXPECT_EQ(vlr.grf, 0x82000000u);
        EXPECT_STREQ(vlr.szDesc, c.szDesc);
        EXPECT_EQ(vlr.versFirmware, (unsigned)c.a << 24 | 0x010205u);
        EXPECT_EQ(std::string(vlr.achVIN, strnlen(vlr.achVIN, 17)), c.szVin);
        EXPECT_EQ(scan.vehicle.versFirmware, vlr.versFirmware);
        EXPECT_STREQ(scan.vehicle.achVIN, c.szVin);
        EXPECT_EQ(scan.vehicle.rver, c.a);
        EXPECT_STREQ(scan.vehicle.pszRoadsterVersion, c.szVehicle);
    }
}

TEST_F(Decode, VinfUpdatesVehicleInfoWithoutVlr)
{
    Bytes rec = VinfRec(dateApr2019, false, "5YJRE11B081000999", 3, 0, 9, 1).Get();
    ScanRecord(&scan, rec.data(), (int)rec.size(), 0, nullptr);
    EXPECT_EQ(scan.vehicle.versFirmware, 0x03000901u);
    EXPECT_STREQ(scan.vehicle.achVIN, "5YJRE11B081000999");
    EXPECT_EQ(scan.vehicle.rver, 3);
    EXPECT_STREQ(scan.vehicle.pszRoadsterVersion, "V1.5 Roadster");
}

TEST_F(Decode, InputEventTexts)
{
    struct {
        int code, state;
        const char* sz;
    } const rgcase[] = {
        {0x03, 2, "charging completed"},
        {0x05, 2, "charging completed"},
        {0x98, 2, "charging completed"},
        {0x03, 3, "?"},
        {0x08, 0, "remove key"},
        {0x08, 7, "remove key"},
        {0x09, 2, "wake car"},
        {0x09, 3, "turn off car"},
        {0x09, 4, "?"},
        {0x0A, 9, "wake car"},
        {0x8A, 0, "wake car"},
        {0x1E, 1, "log download complete"},
        {0x83, 2, "charging started, flashing yellow"},
        {0x85, 1, "?"},
        {0x96, 2, "slide charge connector switch to on/locked"},
        {0x9E, 200, "insert flash drive / download vehicle log"},
        {0x42, 2, "?"},
    };
    for (auto const& c : rgcase) {
        Scan(Rec(rtXX03, 14, dateApr2019).U8(10, c.code).U8(11, c.state));
        EXPECT_EQ(vlr.grf, fvlrDesc) << c.code;
        EXPECT_STREQ(vlr.szDesc, c.sz) << c.code << "/" << c.state;
    }
}

TEST_F(Decode, DailyStatus)
{
    Scan(Rec(rtDAY, 41, dateApr2019).U32(30, 123456).U16(34, 8192).U16(36, 4096).U8(38, 17).U8(39, 80));
    EXPECT_EQ(vlr.grf, 0x11020003u);
    EXPECT_EQ(vlr.rt, rtDAY);
    EXPECT_EQ(vlr.timestamp, dateApr2019);
    EXPECT_EQ(vlr.sect, sectTransient);
    EXPECT_DOUBLE_EQ(vlr.milesOdo, 12345.6);
    EXPECT_DOUBLE_EQ(vlr.ahBrickAve, 467.0);
    EXPECT_DOUBLE_EQ(vlr.ahBrickMin, 233.5);
    EXPECT_NEAR(vlr.ahCAC, 234.00499, 1e-5);
    EXPECT_EQ(vlr.iBrickAhMin, 17);
    EXPECT_EQ(vlr.pctSOC, 80);
}

TEST_F(Decode, IdleWithAndWithoutSOC)
{
    Rec idle = Rec(rtIDLE, 25, dateApr2019).I16(12, -512).I16(14, 5760).U8(16, 66);
    idle.U16(18, 32768).U16(20, 32000).U8(22, 5).U8(23, 9);
    vlr.pctSOC = 11;
    Scan(idle);
    EXPECT_EQ(vlr.grf, 0x00410000u);
    EXPECT_EQ(vlr.pctSOC, 11);   // not this record's
    EXPECT_DOUBLE_EQ(vlr.degESSMin, -2.0);
    EXPECT_DOUBLE_EQ(vlr.degESSMax, 22.5);
    EXPECT_DOUBLE_EQ(vlr.voltsBrickMin, 4.0);
    EXPECT_DOUBLE_EQ(vlr.voltsBrickMax, 3.90625);
    EXPECT_EQ(vlr.iBrickVMin, 5);
    EXPECT_EQ(vlr.iBrickVMax, 9);

    Scan(Rec(rtIDLE, 25, dateApr2019).T2(0x10).U8(16, 66).U8(23, 77));
    EXPECT_EQ(vlr.grf, 0x00410002u);
    EXPECT_EQ(vlr.pctSOC, 66);
    EXPECT_EQ(vlr.iBrickVMax, 77);
}

TEST_F(Decode, C1maChargeSums)
{
    Rec c1ma = Rec(rtC1MA, 43, dateApr2019).I16(16, 320).U16(18, 32768).U16(20, 32768).U8(25, 110);
    c1ma.U16(38, 6400).U16(40, 65280);
    Scan(c1ma);
    EXPECT_EQ(vlr.grf, 0x00603000u);
    EXPECT_DOUBLE_EQ(vlr.ahIn, 10.0 / 60);
    EXPECT_DOUBLE_EQ(vlr.ahOut, 0.0);
    EXPECT_DOUBLE_EQ(vlr.ampsCharge, 100.0);
    EXPECT_DOUBLE_EQ(vlr.voltsLine, 250.0);
    EXPECT_DOUBLE_EQ(vlr.degCoolant, 25.0);
    EXPECT_DOUBLE_EQ(vlr.degESSMin, 25.0);
    EXPECT_DOUBLE_EQ(vlr.degESSMax, 255.0);   // unsigned here

    Scan(Rec(rtC1MA, 43, dateApr2019).I16(16, -640));
    EXPECT_DOUBLE_EQ(vlr.ahIn, 10.0 / 60);
    EXPECT_DOUBLE_EQ(vlr.ahOut, 20.0 / 60);
    Scan(Rec(rtC1MA, 43, dateApr2019).I16(16, 0));
    EXPECT_DOUBLE_EQ(vlr.ahOut, 20.0 / 60);
}

TEST_F(Decode, C30mSubKinds)
{
    struct {
        int kind;
        uint32_t grf;
        int pctSOC, ampsAvailable;
    } const rgcase[] = {
        {0, 0x402, 33, 22}, {1, 0x402, 44, 22}, {2, 0, -1, -1}, {3, 0x402, 33, 11}, {4, 0, -1, -1},
    };
    for (auto const& c : rgcase) {
        vlr.pctSOC = -1;
        vlr.ampsAvailable = -1;
        Scan(Rec(rtC30M, 23, dateApr2019).T3(c.kind).U8(14, 11).U8(16, 22).U8(17, 33).U8(21, 44));
        EXPECT_EQ(vlr.grf, c.grf) << c.kind;
        EXPECT_EQ(vlr.pctSOC, c.pctSOC) << c.kind;
        EXPECT_EQ(vlr.ampsAvailable, c.ampsAvailable) << c.kind;
    }
}

TEST_F(Decode, Dr1sSignBitAndSums)
{
    Rec first = Rec(rtDR1S, 26, dateApr2019).I16(10, 760).I16(12, -320).I16(14, 655);
    first.U16(16, 32768).U16(20, 16384).U8(22, 255).U8(24, 0x4D);
    ScanDr1s(first);
    EXPECT_EQ(vlr.grf, 0x040083FCu);
    EXPECT_DOUBLE_EQ(vlr.voltsESS, 380.0);
    EXPECT_DOUBLE_EQ(vlr.ampsESS, 10.0);
    EXPECT_DOUBLE_EQ(vlr.mphSpeed, 65.5);
    EXPECT_DOUBLE_EQ(vlr.ampsMotor, 500.0);
    EXPECT_NEAR(vlr.lbftTorque, 73.7562, 1e-9);
    EXPECT_EQ(vlr.bPedal, 255);
    EXPECT_EQ(vlr.fBrake, 1);
    EXPECT_EQ(vlr.fRegen, 1);
    EXPECT_EQ(vlr.fTCOff, 1);
    EXPECT_DOUBLE_EQ(vlr.ahOut, 10.0 / 3600);
    EXPECT_DOUBLE_EQ(vlr.ahIn, 0.0);
    EXPECT_DOUBLE_EQ(vlr.whDrive, 3800.0 / 3600);

    Rec second = Rec(rtDR1S, 26, dateApr2019).I16(10, 760).I16(12, 320).I16(14, 345);
    second.U16(16, 32768).U16(20, 16384).U8(24, 0x00);
    ScanDr1s(second);
    EXPECT_DOUBLE_EQ(vlr.ampsESS, -10.0);
    EXPECT_DOUBLE_EQ(vlr.ampsMotor, -500.0);
    EXPECT_NEAR(vlr.lbftTorque, -73.7562, 1e-9);
    EXPECT_EQ(vlr.fBrake, 0);
    EXPECT_EQ(vlr.fRegen, 0);
    EXPECT_EQ(vlr.fTCOff, 0);
    EXPECT_DOUBLE_EQ(vlr.ahOut, 10.0 / 3600);
    EXPECT_DOUBLE_EQ(vlr.ahIn, 10.0 / 3600);
    EXPECT_DOUBLE_EQ(vlr.milesDrive, 65.5 / 3600 + 34.5 / 3600);
    EXPECT_DOUBLE_EQ(vlr.whDrive, 0.0);
}

// The motor current and torque come from a multiplication: it must give every count, either sign,
// exactly the double the division by the scale gives, or listings would change in the last digit.
TEST_F(Decode, Dr1sMotorAmpsAndTorqueExactForEveryCount)
{
    Rec rec = Rec(rtDR1S, 26, dateApr2019);
    volatile double dMotorAmps = 65.536;
    volatile double dTorque = 163.84;
    int cMismatch = 0;
    for (unsigned n = 0; n <= 0xFFFF; n++) {
        for (int bFlags : {0x00, 0x01}) {
            rec.U16(16, n).U16(20, n).U8(24, (uint8_t)bFlags);
            ClearVlr(&vlr, sectTransient);
            Scan(rec);
            double sign = bFlags ? 1.0 : -1.0;
            double ampsMotor = n * sign / dMotorAmps;
            double lbftTorque = n * sign / dTorque * 0.737562;
            if (memcmp(&vlr.ampsMotor, &ampsMotor, sizeof(double)) != 0 ||
                memcmp(&vlr.lbftTorque, &lbftTorque, sizeof(double)) != 0)
                cMismatch++;
        }
    }
    EXPECT_EQ(cMismatch, 0);
}

TEST_F(Decode, Dr1mByVehicleType)
{
    Rec dr1m = Rec(rtDR1M, 36, dateApr2019).U8(17, 100).I16(18, 0x1A40).U8(20, 140);
    dr1m.I16(26, -256).I16(28, 7680).U8(34, 55);
    struct {
        int rver;
        uint32_t grf;
        double degMotor;
    } const rgcase[] = {
        {3, 0x00780000u, 26.25},   // signed 16 bits in 1/256 degree
        {4, 0x00F80000u, 64.0},    // one byte, and a second motor
        {6, 0x00F80000u, 64.0},    // unknown vehicle type reads like a newer car
        {0, 0x00780000u, 64.0},    // no vehicle info yet
    };
    for (auto const& c : rgcase) {
        if (c.rver)
            Scan(VinfRec(dateApr2019, false, "SFZRE8B19A3000123", c.rver));
        Scan(dr1m);
        EXPECT_EQ(vlr.grf, c.grf) << c.rver;
        EXPECT_DOUBLE_EQ(vlr.degPEM, 50.0);
        EXPECT_DOUBLE_EQ(vlr.degMotor, c.degMotor) << c.rver;
        EXPECT_DOUBLE_EQ(vlr.degCoolant, 40.0);
        EXPECT_DOUBLE_EQ(vlr.degESSMin, -1.0);
        EXPECT_DOUBLE_EQ(vlr.degESSMax, 30.0);
        if (c.grf & fvlrTempMotor2) {
            EXPECT_DOUBLE_EQ(vlr.degMotor2, 55.0);
        }
        scan.vehicle = VehicleUnknown();
    }
}

TEST_F(Decode, D10mOdometerAndElevation)
{
    struct {
        const char* szName;
        Rec rec;
        uint32_t grf;
        double milesOdo;
        int mElevation;
    } const rgcase[] = {
        {"short, no odometer", D10mRec(dateApr2019, 80), 0x2, -1, 0},
        {"count byte 20", Rec(rtD10M, 22, dateApr2019).U8(15, 80).U32(18, 99), 0x2, -1, 0},
        {"count byte 21", D10mRec(dateApr2019, 80, 12345.6), 0x3, 12345.6, 0},
        {"elevation", D10mRec(dateApr2019, 80).T2(0x01).I16(10, -10), 0x40002, -1, -10},
        {"both", D10mRec(dateApr2019, 80, 7.5).T2(0x03).I16(10, 2000), 0x40003, 7.5, 2000},
    };
    for (auto const& c : rgcase) {
        vlr.milesOdo = -1;
        vlr.mElevation = 0;
        Scan(c.rec);
        EXPECT_EQ(vlr.grf, c.grf) << c.szName;
        EXPECT_EQ(vlr.pctSOC, 80) << c.szName;
        EXPECT_DOUBLE_EQ(vlr.milesOdo, c.milesOdo) << c.szName;
        EXPECT_EQ(vlr.mElevation, c.mElevation) << c.szName;
    }
}

TEST_F(Decode, TyrePressures)
{
    Scan(Rec(rtTPMS, 19, dateApr2019).U8(10, 82).U8(11, 20).U8(12, 83).U8(13, 21).U8(14, 84).U8(15, 22)
             .U8(16, 85).U8(17, 250));
    EXPECT_EQ(vlr.grf, 0x4000u);
    EXPECT_DOUBLE_EQ(vlr.rgpsiTire[0], 32.03125);
    EXPECT_DOUBLE_EQ(vlr.rgpsiTire[1], 83 / 2.56);
    EXPECT_DOUBLE_EQ(vlr.rgpsiTire[3], 85 / 2.56);
    EXPECT_EQ(vlr.rgdegTire[0], 20);
    EXPECT_EQ(vlr.rgdegTire[2], 22);
    EXPECT_EQ(vlr.rgdegTire[3], 250);
}

TEST_F(Decode, ErrorTexts)
{
    struct {
        unsigned code;
        int cbData;
        uint32_t grf;
        const char* szDesc;
    } const rgcase[] = {
        {53, 4, 0x80000800u, "(VMS: GPS thread was gone for 30 seconds) 4 bytes"},
        {999, 4, 0x80000800u, "4 bytes"},
        {999, 0, 0x800u, ""},
        {416, 0, 0x80000800u, "(Tire Pressure Warning)"},
        {0, 255, 0x80000800u, "255 bytes"},
    };
    for (auto const& c : rgcase) {
        strcpy(vlr.szDesc, "stale");
        Scan(Rec(rtERR, 18, dateApr2019).U16(14, c.code).U8(16, c.cbData));
        EXPECT_EQ(vlr.grf, c.grf) << c.code;
        EXPECT_EQ(vlr.codeError, c.code);
        EXPECT_STREQ(vlr.szDesc, c.szDesc) << c.code;
    }
}

TEST_F(Decode, C1mb)
{
    Rec c1mb = Rec(rtC1MB, 39, dateApr2019).U16(10, 779).I16(12, -64).U16(14, 32768).U16(16, 32768);
    c1mb.U8(21, 110).U8(22, 3).U16(26, 32768).U16(28, 32000).U8(30, 12).U8(31, 87);
    c1mb.U16(34, 6400).U16(36, 65280);
    Scan(c1mb);
    EXPECT_EQ(vlr.grf, 0x08613008u);
    EXPECT_DOUBLE_EQ(vlr.voltsESS, 380.37109375);
    EXPECT_DOUBLE_EQ(vlr.ampsESS, -2.0);   // not negated, unlike DR1S
    EXPECT_DOUBLE_EQ(vlr.ampsCharge, 100.0);
    EXPECT_DOUBLE_EQ(vlr.voltsLine, 250.0);
    EXPECT_DOUBLE_EQ(vlr.degCoolant, 25.0);
    EXPECT_EQ(vlr.nCooling, 3);
    EXPECT_DOUBLE_EQ(vlr.voltsBrickMin, 4.0);
    EXPECT_DOUBLE_EQ(vlr.voltsBrickMax, 3.90625);
    EXPECT_EQ(vlr.iBrickVMin, 12);
    EXPECT_EQ(vlr.iBrickVMax, 87);
    EXPECT_DOUBLE_EQ(vlr.degESSMin, 25.0);
    EXPECT_DOUBLE_EQ(vlr.degESSMax, 255.0);
    EXPECT_DOUBLE_EQ(vlr.ahIn, 0.0);   // C1MB adds to no sum
}

TEST_F(Decode, TypesWithoutValues)
{
    for (int rt : {0, 2, (int)rtXX04, (int)rtXX05, 13, 21, 25, 200}) {
        vlr.grf = 0xFFFF;
        Scan(Rec(rt, 30, dateApr2019).U8(15, 80));
        EXPECT_EQ(vlr.grf, 0u) << rt;
        EXPECT_EQ(vlr.rt, rt);
    }
}

// Fields past a record's own end read as zero, never as the bytes that follow it.
TEST_F(Decode, ShortRecordsReadZeros)
{
    Bytes day = Rec(rtDAY, 31, dateApr2019).U8(30, 0x20).Get();   // odometer's first byte is the checksum
    Bytes buf = day;
    buf.resize(80, 0xEE);
    ScanRecord(&scan, buf.data(), (int)day.size(), 0, &vlr);
    EXPECT_EQ(vlr.grf, 0x11020003u);
    EXPECT_DOUBLE_EQ(vlr.milesOdo, day[30] * 0.1);
    EXPECT_EQ(vlr.pctSOC, 0);
    EXPECT_EQ(vlr.ahBrickAve, 0.0);

    // The count byte says 21 but the caller hands only 17 bytes: the odometer reads zero.
    Bytes d10m = D10mRec(dateApr2019, 80, 12345.6).Get();
    buf = d10m;
    buf.resize(17);
    buf.resize(80, 0xEE);
    ScanRecord(&scan, buf.data(), 17, 0, &vlr);
    EXPECT_EQ(vlr.grf, 0x3u);
    EXPECT_EQ(vlr.milesOdo, 0.0);

    // Shorter than the header: the missing header bytes are zero too.
    buf = {0x03, 0x02, 0x02, rtIDLE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};
    ScanRecord(&scan, buf.data(), 4, 0, &vlr);
    EXPECT_EQ(vlr.rt, rtIDLE);
    EXPECT_EQ(vlr.timestamp, 0u);
    EXPECT_EQ(vlr.grf, 0x00410000u);   // no SOC bit from t2
    EXPECT_EQ(vlr.degESSMin, 0.0);
    ScanRecord(&scan, buf.data(), 3, 0, &vlr);
    EXPECT_EQ(vlr.rt, 0);
    ScanRecord(&scan, buf.data(), 0, 0, &vlr);
    EXPECT_EQ(vlr.rt, 0);
}

TEST_F(Decode, EveryRecordTalliedOnce)
{
    Scan(D10mRec(dateApr2019, 80));
    Scan(D10mRec(dateApr2019, 81));
    Bytes odd = Rec(30, 12, dateApr2019).Get();
    ScanRecord(&scan, odd.data(), (int)odd.size(), 0, nullptr);
    ASSERT_EQ(scan.tags.ctage, 2);
    TAGE const* ptage = &scan.tags.rgtage[0];
    EXPECT_EQ(ptage->tag[0], 15);
    EXPECT_EQ(ptage->tag[1], rtD10M);
    EXPECT_EQ(ptage->crec, 2u);
    EXPECT_EQ(ptage->cbTotal, 34u);
    EXPECT_EQ(scan.tags.rgtage[1].tag[1], 30);
    EXPECT_EQ(scan.tags.rgtage[1].cbTotal, 12u);
}

struct AGGCOUNT {
    VLR* pvlrLast = nullptr;
    int c = 0;
};

void CountAggregate(void* pvContext, VLR* pvlr)
{
    AGGCOUNT* pcount = (AGGCOUNT*)pvContext;
    pcount->pvlrLast = pvlr;
    pcount->c++;
}

TEST_F(Decode, AggregateHookOnlyWhenCollecting)
{
    EXPECT_EQ(scan.pfnAggregate, nullptr);   // a fresh state collects nothing
    AGGCOUNT count;
    scan.pfnAggregate = CountAggregate;
    scan.pvAggregate = &count;
    Bytes rec = D10mRec(dateApr2019, 80).Get();
    ScanRecord(&scan, rec.data(), (int)rec.size(), 0, &vlr);
    EXPECT_EQ(count.c, 0);
    ScanRecord(&scan, rec.data(), (int)rec.size(), 1, &vlr);
    EXPECT_EQ(count.c, 1);
    EXPECT_EQ(count.pvlrLast, &vlr);
    // Without a VLR of the caller's the record is decoded into one of its own.
    ScanRecord(&scan, rec.data(), (int)rec.size(), 1, nullptr);
    EXPECT_EQ(count.c, 2);
    EXPECT_NE(count.pvlrLast, &vlr);
    scan.pfnAggregate = nullptr;
    ScanRecord(&scan, rec.data(), (int)rec.size(), 1, &vlr);
    EXPECT_EQ(count.c, 2);
}

}  // namespace
