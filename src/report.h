// The run's one failure path and its standard output. Whatever cannot be
// done is told through failure(): the line standard output has always
// carried, and one line on standard error that says where and why,
// "dattool: <path>: <reason>". It also marks the run failed; the command
// carries on with the rest of its work and ends with status -1.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "archive/reporter.h"

#if defined(__GNUC__)
#define PRINTF_LIKE(f, a) __attribute__((format(printf, f, a)))
#else
#define PRINTF_LIKE(f, a)
#endif

namespace dat::detail {

// dattool's reporter: what the core tells, printed as the lines dattool
// has always printed, and everything the run's report keeps: the failure
// mark, standard output's error mark, whether each stream is a terminal
// and when standard output last went out. One lives for each run, so a run
// in-process behaves as a run of its own. Made after the standard streams
// are settled: on a terminal it makes standard output unbuffered, so that
// a progress line shows before the work it announces. Quiet (-q), it
// prints only what a script wants: the paths listed, and the failures on
// standard error alone.
class Printer : public Reporter {
   public:
    explicit Printer(bool quiet = false);

    // Prints format and its arguments on standard output as printf does,
    // then a line break ("failed" completes a progress line this way);
    // then, once standard output has been sent on, "dattool: <path>:
    // <reason>" on standard error. path is escaped there as standard
    // error's terminal state asks, so callers pass it raw. Marks the run
    // failed.
    void failure(const std::string& path, const std::string& reason, const char* format, ...)
        PRINTF_LIKE(4, 5);
    // The same with nothing on standard output: for the failure that
    // cannot be told there, as standard output is the archive.
    void failureOnStderr(const std::string& path, const std::string& reason);
    // The same line for what the user should know of work that was done:
    // it leaves the run's status alone.
    void noticeOnStderr(const std::string& path, const std::string& reason);

    // Whether anything has been reported through failure().
    bool failed() const { return failedSoFar; }
    // Whether the lines that tell of the work are left out (-q).
    bool quiet() const { return quietly; }

    // A name as it may be printed on standard output. On a terminal
    // nothing in it may drive the terminal: see escaped. To a pipe or a
    // file the bytes go unchanged, for scripts.
    std::string shown(const std::string& name) const;

    // Called after each line and each chunk of file bytes. To a pipe or a
    // file standard output keeps its buffer, which makes many small files
    // fast; what waits there is sent on once 100 ms have passed since it
    // last went out, so a program reading it sees the work as it goes.
    void progress();

    // Whether everything printed by this run reached standard output. Lost
    // output fails the run: what was lost may have been the only report
    // of another failure. When it was lost, standard error says so, once.
    bool outputDelivered();

    void listed(const std::string& path) override;
    void extractionBegins() override;
    void extractionEnds(uint32_t files) override;
    void noCurrentDirectory(const std::string& why) override;
    void directoryMade(const std::string& path) override;
    void directoryNotMade(const std::string& path, const std::string& why) override;
    void extracting(const std::string& path, uint32_t size) override;
    void extracted(const std::string& path) override;
    void notExtracted(const std::string& path, const std::string& why) override;
    void skipped(const std::string& path, const std::string& reason, const std::string& why) override;
    void passedOver(const std::string& path, const std::string& reason) override;
    void notListed(const std::string& directory, const std::string& why) override;
    void writing(const std::string& path, uint32_t size) override;
    void sourceFault(const std::string& path, SourceFault fault, uint32_t bytes,
                     const std::string& why) override;
    void moved() override;
    void writtenInPlace(const std::string& archive, InPlace why) override;
    void archiveFailed(const std::string& archive, ArchiveFault fault, const std::string& why) override;
    void ownerNotKept(const std::string& archive) override;
    void holdSignals() override;
    void releaseSignals() override;
    void removeOnSignal(const Dir* dir, const std::string& name) override;
    void raiseHandleLimit() override;

   private:
    using Clock = std::chrono::steady_clock;

    void noteOutput();
    void send();
    // Sends on what waits now: before work that may take long, such as
    // copying the bytes of a large file.
    void sendProgress();
    void stderrLine(const std::string& path, const std::string& reason) const;
    // A line that starts work on a file of size bytes: a large file takes
    // a while, so its line goes out before any of its work.
    void startLine(uint32_t size);

    bool quietly = false;
    bool failedSoFar = false;
    bool outputOnTerminal = false;
    bool errorsOnTerminal = false;
    bool lossTold = false;
    int outputErrno = 0;  // why standard output lost a write, when it did
    Clock::time_point lastSent;
    size_t lastPending = 0;  // what waited in standard output's buffer at the last look
};

}  // namespace dat::detail
