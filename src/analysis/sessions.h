// The drives and charges of the default report as figures, handed to the consumer of a summary: the
// printed report is one, quenfell-plot's page another. All see the very same values, worked out
// once when a session closes.
#pragma once

#include <cstdint>

#include "records/record.h"

// One drive as its report line gives it; distances in miles, speeds in miles per hour.
struct DRIVESESSION {
    uint32_t timestampStart, timestampEnd;
    uint32_t secDuration;       // 0 unless both ends are dates
    int pctSOCStart, pctSOCEnd; // -1: no reading
    double miles;               // from the odometer where it was read, else integrated speed
    double mphAverage;          // over the seconds in motion; 0 when the car never moved
    double mphMax;
    bool fOdometer;             // the log has an odometer reading: milesOdo means something
    bool fOdoCurrent;           // milesOdo was read after the drive, not estimated
    double milesOdo;
    double wh;                  // energy out of the battery, regeneration subtracted
    double ahIn, ahOut;
    int cTCOff;                 // seconds with traction control off
    int cdegBattery;            // one-minute records of the drive with a battery temperature; 0: none
    double degBatteryAverage;   // their highest battery temperature, averaged; deg C
};

// One charge as its report line gives it.
struct CHARGESESSION {
    uint32_t timestampStart, timestampEnd;
    uint32_t secDuration;
    int pctSOCStart, pctSOCEnd;
    int cVoltsLine;             // 0: no line voltage reading, voltsLineAverage means nothing
    double voltsLineAverage;
    double ampsMax;             // 0: no current reading
    int ampsAvailable;          // 0: not known
    double kwh;                 // from the wall
    double ahIn, ahOut;
    bool fWallToWheel;          // this charge refilled what the drives since the last one used
    double milesSinceCharge;    // the drives' miles that fWallToWheel divides by
    // Energy into the battery (battery volts times battery amps) and from the wall, both over the
    // records that read both, by the rule kwh follows; cBattery 0: the charge records read no
    // battery volts and amps (older cars), and both are 0.
    int cBattery;
    double whBattery, whWallPaired;
    int cdegBattery;            // charge records with a battery temperature; 0: none
    double degBatteryAverage;   // their highest battery temperature, averaged; deg C
};
