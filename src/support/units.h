// Imperial or metric output: the car logs miles, miles per hour and metres; -m shows kilometres,
// kilometres per hour and metres, otherwise miles, miles per hour and feet. fMetric is any
// nonzero value for metric.
#pragma once

// The rounded factors every printed distance and speed is made with; another digit would change
// the output.
constexpr double kmPerMile = 1.609;
constexpr double ftPerMetre = 3.2808399;

// "km" or "mi".
constexpr const char* UnitsDistMiKm(int fMetric) { return fMetric ? "km" : "mi"; }
// "kph" or "mph".
constexpr const char* UnitsSpeed(int fMetric) { return fMetric ? "kph" : "mph"; }
// "m" or "ft", the unit of elevation.
constexpr const char* UnitsDistFtM(int fMetric) { return fMetric ? "m" : "ft"; }

constexpr double DistConvertMiles(double miles, int fMetric)
{
    return fMetric ? miles * kmPerMile : miles;
}

constexpr double SpeedConvertMph(double mph, int fMetric)
{
    return fMetric ? mph * kmPerMile : mph;
}

// Metres as they are, or whole feet truncated toward zero; above 9,987 m the feet wrap in the 16-bit
// result, and the listing prints them so.
constexpr short DistConvertMeters(short metres, int fMetric)
{
    if (fMetric)
        return metres;
    return (short)(int)(metres * ftPerMetre);
}
