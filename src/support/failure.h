// Why something failed, in the words the program gives it: the programs print it ("ERROR: " and
// the text for quenfell) and end the run; everything below them only fills it in and returns.
#pragma once

constexpr int cchFailure = 1024;

struct FAILURE {
    char sz[cchFailure];
};

// Fills *pfail from a printf format.
void SetFailure(FAILURE* pfail, char const* format, ...) __attribute__((format(printf, 2, 3)));
