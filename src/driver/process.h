// One run of the program over its command line: the options in force, the state that lasts from
// one input to the next, and the step that handles one input completely (decoded, studied for the
// battery report or collected for the join) before the next argument is read.
#pragma once

#include "analysis/run.h"
#include "battery/collect.h"
#include "driver/join.h"
#include "driver/notes.h"
#include "input/tar.h"

// What the options typed so far ask for; later options change it for the inputs after them.
struct OPTIONS {
    unsigned int timestampStart;
    unsigned int timestampEnd;
    unsigned int timestampSkipUntil;
    unsigned int grfRt;
    bool fVerbose;
    bool fTab;
    bool fMetric;
    bool fPermanent;
    bool fChargeDetail;
    bool fBattery;
    const char* pszJoinOutput;
};

// The join's inputs, gathered from the first input that arrives while -j is in force; owns the
// inputs' streams until the join takes them.
struct JOINTABLE {
    JOININ* rgin = nullptr;
    int cin = 0;
    int cinMax = 0;
    JOINTABLE() = default;
    JOINTABLE(JOINTABLE const&) = delete;
    JOINTABLE& operator=(JOINTABLE const&) = delete;
    ~JOINTABLE();
};

// Everything one run of the program keeps; QuenfellMain creates one (tests and fuzz targets make
// their own) and InitProgram wires its parts together.
struct PROGRAM {
    OPTIONS opt;
    RUN run;
    STUDY study;
    NOTES notes;
    JOINTABLE join;
};

void InitProgram(PROGRAM* pprog);

// Handles one input argument. cargLeft counts the command-line arguments from this one to the last
// (the join table is sized by it). Fatal errors end the program.
void ProcessInput(PROGRAM* pprog, const char* pszArg, int cargLeft);

// Handles carg input arguments that follow one another on the command line (no option between
// them), exactly as ProcessInput on each in turn would: same output, messages, files and exit
// status. A battery study of several downloads decodes them on every core (CWorkers).
void ProcessInputs(PROGRAM* pprog, char** rgpszArg, int carg, int cargLeft);

// A name that ends in ".tar" (any case): a download to look into for its vms_log member.
bool FTarballName(const char* pszArg);
// A download named like 200906051330.tar (given with a directory) tells when it was taken: no
// record of it can be newer. False when the name tells nothing (an unknown date gives 0).
bool FDownloadTime(const char* pszArg, unsigned int* ptimestamp);

// After the last argument: the join of the collected inputs and the battery study's report.
void FinishInputs(PROGRAM* pprog);

// The context of _ProcessTarFileEntry: whether to list the members, and the last member named
// vms_log (ibData stays 0 when there is none).
struct TARSCAN {
    int fPrint;
    TARF tarfLog;
};

// TAR::Scan callback: lists the member when asked ("%8lu" size for regular files, else eight
// blanks, then " name \n") and keeps it when it is named vms_log. Always returns 1 (go on).
int _ProcessTarFileEntry(TARF const& tarf, void* context);
