// The run's one failure path and its standard output. Whatever cannot be
// done is told through failure(): the line standard output has always
// carried, and one line on standard error that says where and why,
// "dattool: <path>: <reason>". It also marks the run failed; the command
// carries on with the rest of its work and ends with status -1.
#pragma once

#include <cstdint>
#include <string>

#if defined(__GNUC__)
#define PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define PRINTF_LIKE(f, a)
#endif

// Prints format and its arguments on standard output as printf does, then
// a line break ("failed" completes a progress line this way); then, once
// standard output has been sent on, "dattool: <path>: <reason>" on standard
// error. path is escaped there as standard error's terminal state asks, so
// callers pass it raw. Marks the run failed.
void failure(const std::string& path, const std::string& reason, const char* format, ...) PRINTF_LIKE(3, 4);
// The same with nothing on standard output: for the failure that cannot be
// told there, as standard output is the archive.
void failureOnStderr(const std::string& path, const std::string& reason);
// The same line for what the user should know of work that was done: it
// leaves the run's status alone.
void noticeOnStderr(const std::string& path, const std::string& reason);

// Whether anything has been reported through failure() since startReport.
bool runFailed();

// A name as it may be printed on standard output: see shownOn.
std::string shown(const std::string& name);

// Called after each line and each chunk of file bytes. To a pipe or a file
// standard output keeps its buffer, which makes many small files fast; what
// waits there is sent on once 100 ms have passed since it last went out, so
// a program reading it sees the work as it goes.
void progress();
// Sends on what waits now: before work that may take long, such as copying
// the bytes of a file larger than largeFile.
void sendProgress();
constexpr uint64_t largeFile = uint64_t(1) << 20;

// Whether everything printed since startReport reached standard output. Lost
// output fails the run: what was lost may have been the only report of
// another failure. When it was lost, standard error says so, once.
bool outputDelivered();

// The report's own state is all the program keeps between commands: the
// failure mark, standard output's error mark, whether it is a terminal and
// whether the run is quiet. Each command starts by putting it back here,
// so a run in-process behaves as a run of its own. On a terminal standard
// output is made unbuffered, so that a progress line shows before the work
// it announces.
void startReport(bool quiet = false);

// -q: the lines that tell of the work are left out of standard output,
// and failure() tells standard error alone; what a script wants stays.
bool quietRun();
