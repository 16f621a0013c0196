// The lines of the battery study report: printed by `quenfell -b` and read back by quenfell-plot,
// both from these texts so that the two cannot part. Formats are printf formats of whole lines,
// line end included; the fixed lines are given without it.
//
// Every text is kept exactly as it stands, the "odomoter" typo included: stored reports and users'
// scripts match these lines byte for byte.
#pragma once

// Opens each histogram; a reader finds the start of the report by it.
inline constexpr char szReportHistHeader[] = "------, -------";
// The histogram's title, then the unit of its counts.
inline constexpr char szReportHistTitleFormat[] = "%s, %s\n";
// A bin's index, then its count.
inline constexpr char szReportHistRowFormat[] = "%d, %d\n";

// The histograms' titles, in the order the report prints them.
inline constexpr char szReportHistAmps[] = "charging amps";
inline constexpr char szReportHistSOC[] = "soc range %";
inline constexpr char szReportHistTemp[] = "temp C";
inline constexpr char szReportHistKmiles[] = "kmiles";
inline constexpr char szReportHistMilesPerDay[] = "milesperday";
// Time-weighted histograms count seconds; the miles-per-day one counts days.
inline constexpr char szReportUnitSeconds[] = "seconds";
inline constexpr char szReportUnitCount[] = "count";

// Opens each of the two tables.
inline constexpr char szReportTableRule[] = "--------------";
inline constexpr char szReportCapHeading[] = "timestamp, brickahmin, brickahave, bricknumber, CAC";
// Date, lowest and average brick ampere-hours, number of the lowest brick, CAC.
inline constexpr char szReportCapRowFormat[] = "%s, %.2f, %.2f, %d, %.2f\n";
inline constexpr char szReportFwHeading[] = "timestamp, firmware version";
// Date, then the version as FormatFirmwareVersion writes it.
inline constexpr char szReportFwRowFormat[] = "%s, %s\n";

// The closing lines: which span (szReportSpanDaily, then szReportSpanDetail), its first and last
// date and the whole days between them; then the days with detail and the highest odometer.
inline constexpr char szReportSpanFormat[] = "%s Timestamp from %s to %s; %d days\n";
inline constexpr char szReportSpanDaily[] = "Daily";
inline constexpr char szReportSpanDetail[] = "Detail";
inline constexpr char szReportDetailFormat[] = "Days of detail: %d, odomoter max: %d\n";
