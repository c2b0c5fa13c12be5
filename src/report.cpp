#include "report.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "terminal.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto progressInterval = std::chrono::milliseconds(100);

bool failedSoFar = false;
bool quiet = false;
bool outputOnTerminal = false;
bool errorsOnTerminal = false;
bool lossTold = false;
int outputErrno = 0;  // why standard output lost a write, when it did
Clock::time_point lastSent;
size_t lastPending = 0;  // what waited in standard output's buffer at the last look

// Notes why standard output failed, while errno still says so.
void noteOutput() {
    if (outputErrno == 0 && std::ferror(stdout)) outputErrno = errno != 0 ? errno : EIO;
}

void send() {
    if (std::fflush(stdout) != 0) noteOutput();
    lastSent = Clock::now();
    lastPending = 0;
}

void stderrLine(const std::string& path, const std::string& reason) {
    const std::string name = shownOn(errorsOnTerminal, path);
    std::fprintf(stderr, "dattool: %s: %s\n", name.c_str(), reason.c_str());
}

}  // namespace

void failure(const std::string& path, const std::string& reason, const char* format, ...) {
    if (!quiet) {
        va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::putchar('\n');
    }
    failureOnStderr(path, reason);
}

void failureOnStderr(const std::string& path, const std::string& reason) {
    // With both streams on one pipe, the reason follows its line.
    send();
    stderrLine(path, reason);
    failedSoFar = true;
}

void noticeOnStderr(const std::string& path, const std::string& reason) {
    send();
    stderrLine(path, reason);
}

bool runFailed() {
    return failedSoFar;
}

std::string shown(const std::string& name) {
    return shownOn(outputOnTerminal, name);
}

void progress() {
    noteOutput();
    if (outputOnTerminal) return;
    const Clock::time_point now = Clock::now();
    // A buffer that filled went out by itself: that counts as sent, so a
    // run that prints fast makes no writes of its own for the timer.
    const size_t pending = outputPending();
    if (pending < lastPending) lastSent = now;
    lastPending = pending;
    if (now - lastSent >= progressInterval) send();
}

void sendProgress() {
    if (!outputOnTerminal) send();
}

bool outputDelivered() {
    if (std::fflush(stdout) != 0) noteOutput();
    if (!std::ferror(stdout)) return true;
    if (!lossTold) {
        lossTold = true;
        stderrLine("standard output", std::strerror(outputErrno != 0 ? outputErrno : EIO));
    }
    return false;
}

bool quietRun() {
    return quiet;
}

void startReport(bool quietly) {
    failedSoFar = false;
    quiet = quietly;
    std::fflush(stdout);
    std::clearerr(stdout);
    outputErrno = 0;
    lossTold = false;
    lastSent = Clock::now();
    outputOnTerminal = outputIsTerminal();
    errorsOnTerminal = errorIsTerminal();
    // A line without its line break would wait in the buffer until the work
    // it announces is done; a pipe or a file keeps its buffer, which is
    // what makes many small files fast.
    if (outputOnTerminal) std::setvbuf(stdout, nullptr, _IONBF, 0);
}
