// Invariants the code relies on, checked where they hold: every build without NDEBUG (the
// sanitizer and debug builds) and the fuzz builds, which define QF_ASSERTS. The release build
// leaves them out. A failed check is a fault in the program, never in its input: it names the
// condition and aborts.
#pragma once

#if !defined(NDEBUG) || defined(QF_ASSERTS)
#define QF_ASSERTS_ON 1
[[noreturn]] void AssertFailed(char const* szCondition, char const* szFile, int iLine);
#define QF_ASSERT(cond) ((cond) ? (void)0 : AssertFailed(#cond, __FILE__, __LINE__))
#else
#define QF_ASSERTS_ON 0
#define QF_ASSERT(cond) ((void)0)
#endif
