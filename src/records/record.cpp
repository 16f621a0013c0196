// PLACEHOLDER until the record module lands.
#include "records/record.h"
const RI s_mp_rt_ri[rtMax] = {};
unsigned int s_versFirmware;
char s_achVIN[18];
int s_rver;
const char* s_pszRoadsterVersion = "";
unsigned int s_timestampLastValid;
uint32_t TimestampFromRaw(uint32_t d) { return d; }
uint32_t TimestampFromRh(RH const*) { return 0; }
int FValidTimestamp(unsigned int, unsigned int) { return 0; }
void ClearVlr(VLR*, SECT) {}
const char* SzFromRt(int) { return nullptr; }
const char* SzListCodeFromRt(int, char* buf5) { buf5[0] = 0; return buf5; }
const char* SzDescForErrorCode(unsigned short) { return nullptr; }
char* FormatFirmwareVersion(unsigned int, char* buf, int) { return buf; }
unsigned int VersFirmwareFromRecord(unsigned char const*) { return 0; }
void SetFirmwareVersionInRecord(unsigned int, unsigned char*, int) {}
void ResetVehicleInfo() {}
