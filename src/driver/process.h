// One run of the program over its command line: the options in force, the state that lasts from
// one input to the next, and the step that handles one input completely (decoded, studied for the
// battery report or collected for the join) before the next argument is read.
#pragma once

#include "analysis/run.h"
#include "battery/collect.h"
#include "merge/merge.h"
#include "report/notes.h"
#include "report/report.h"
#include "support/failure.h"

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

// What the options in force make of an input: the one place the run's mode is decided.
MODE ModeOfOptions(OPTIONS const& opt);

// Everything one run of the program keeps; QuenfellMain creates one (tests and fuzz targets make
// their own) and InitProgram wires its parts together.
struct PROGRAM {
    OPTIONS opt;
    RUN run;
    STUDY study;
    NOTES notes;
    JOINTABLE join;
    REPORTER reporter;
};

void InitProgram(PROGRAM* pprog);

// Handles one input argument: its "Analyze:" line, then the input. cargLeft counts the command-line
// arguments from this one to the last (the join table is sized by it). False with the reason in
// *pfail when the run must end.
bool FProcessInput(PROGRAM* pprog, const char* pszArg, int cargLeft, FAILURE* pfail);

// Handles carg input arguments that follow one another on the command line (no option between
// them), exactly as FProcessInput on each in turn would: same output, messages, files and result.
// A battery study of several downloads decodes them on every core.
bool FProcessInputs(PROGRAM* pprog, char** rgpszArg, int carg, int cargLeft, FAILURE* pfail);

// After the last argument: the join of the collected inputs and the battery study's report.
bool FFinishInputs(PROGRAM* pprog, FAILURE* pfail);

// FProcessInput without the "Analyze:" line.
bool FHandleInput(PROGRAM* pprog, const char* pszArg, int cargLeft, FAILURE* pfail);
// The start time after the end time ends the run before an input is read.
bool FCheckTimeWindow(OPTIONS const& opt, FAILURE* pfail);
// The request that the options make for one input.
DECODE DecodeOfOptions(OPTIONS const& opt, const char* pszArg);
