// The run's one failure path. Whatever cannot be done is told as one line
// through failure(), which also marks the run failed; the command carries on
// with the rest of its work and ends with status -1.
#pragma once

#if defined(__GNUC__)
#define PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define PRINTF_LIKE
#endif

// Prints format and its arguments as printf does, then a line break, and
// marks the run failed. "failed" completes a progress line this way.
void failure(const char* format, ...) PRINTF_LIKE;

// Whether anything has been reported through failure() since resetRun.
bool runFailed();

// Puts every program-wide value back as the program starts: the key, the
// entry tree, the reader's counts and the failure mark. Each command starts
// here, so a run in-process behaves as a run of its own.
void resetRun();
