// The run's one failure path and its standard output. Whatever cannot be
// done is told as one line through failure(), which also marks the run
// failed; the command carries on with the rest of its work and ends with
// status -1.
#pragma once

#include <string>

#if defined(__GNUC__)
#define PRINTF_LIKE __attribute__((format(printf, 1, 2)))
#else
#define PRINTF_LIKE
#endif

// Prints format and its arguments as printf does, then a line break, and
// marks the run failed. "failed" completes a progress line this way.
void failure(const char* format, ...) PRINTF_LIKE;
// The same on standard error, for the one failure that cannot be told on
// standard output because standard output is the archive.
void failureOnStderr(const char* format, ...) PRINTF_LIKE;

// Whether anything has been reported through failure() since startReport.
bool runFailed();

// A name as it may be printed. On a terminal, bytes 0x00-0x1F and 0x7F show
// as "?", so a name cannot move the cursor, clear the screen or retitle the
// window; to a pipe or a file the bytes go unchanged, for scripts.
std::string shown(const std::string& name);

// Whether everything printed since startReport reached standard output. Lost
// output fails the run: what was lost may have been the only report of
// another failure.
bool outputDelivered();

// The report's own state is all the program keeps between commands: the
// failure mark, standard output's error mark and whether it is a terminal.
// Each command starts by putting it back here, so a run in-process behaves
// as a run of its own. On a terminal standard output is made unbuffered,
// so that a progress line shows before the work it announces.
void startReport();
