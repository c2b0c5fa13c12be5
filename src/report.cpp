#include "report.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "terminal.h"

namespace dat::detail {

namespace {

constexpr auto progressInterval = std::chrono::milliseconds(100);
// A file larger than this takes a while: its line goes out before its work.
constexpr uint64_t largeFile = uint64_t(1) << 20;

}  // namespace

Printer::Printer(bool quiet) : quietly(quiet) {
    std::fflush(stdout);
    std::clearerr(stdout);
    lastSent = Clock::now();
    outputOnTerminal = outputIsTerminal();
    errorsOnTerminal = errorIsTerminal();
    // A line without its line break would wait in the buffer until the work
    // it announces is done; a pipe or a file keeps its buffer, which is
    // what makes many small files fast.
    if (outputOnTerminal) std::setvbuf(stdout, nullptr, _IONBF, 0);
}

// Notes why standard output failed, while errno still says so.
void Printer::noteOutput() {
    if (outputErrno == 0 && std::ferror(stdout)) outputErrno = errno != 0 ? errno : EIO;
}

void Printer::send() {
    if (std::fflush(stdout) != 0) noteOutput();
    lastSent = Clock::now();
    lastPending = 0;
}

void Printer::stderrLine(const std::string& path, const std::string& reason) const {
    const std::string name = shownOn(errorsOnTerminal, path);
    std::fprintf(stderr, "dattool: %s: %s\n", name.c_str(), reason.c_str());
}

void Printer::failure(const std::string& path, const std::string& reason, const char* format, ...) {
    if (!quietly) {
        va_list args;
        va_start(args, format);
        std::vprintf(format, args);
        va_end(args);
        std::putchar('\n');
    }
    failureOnStderr(path, reason);
}

void Printer::failureOnStderr(const std::string& path, const std::string& reason) {
    // With both streams on one pipe, the reason follows its line.
    send();
    stderrLine(path, reason);
    failedSoFar = true;
}

void Printer::noticeOnStderr(const std::string& path, const std::string& reason) {
    send();
    stderrLine(path, reason);
}

std::string Printer::shown(const std::string& name) const {
    return shownOn(outputOnTerminal, name);
}

void Printer::progress() {
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

void Printer::sendProgress() {
    if (!outputOnTerminal) send();
}

bool Printer::outputDelivered() {
    if (std::fflush(stdout) != 0) noteOutput();
    if (!std::ferror(stdout)) return true;
    if (!lossTold) {
        lossTold = true;
        stderrLine("standard output", std::strerror(outputErrno != 0 ? outputErrno : EIO));
    }
    return false;
}

void Printer::startLine(uint32_t size) {
    if (size > largeFile)
        sendProgress();
    else
        progress();
}

void Printer::listed(const std::string& path) {
    std::puts(shown(path).c_str());
    progress();
}

void Printer::extractionBegins() {
    if (!quietly) std::puts("Extracting...");
}

void Printer::extractionEnds(uint32_t files) {
    if (!quietly) std::printf("Extracted %u file(s)\n", files);
    progress();
}

void Printer::noCurrentDirectory(const std::string& why) {
    failure(".", why, "Unable to open the current directory");
}

void Printer::directoryMade(const std::string& path) {
    if (!quietly) std::printf("Creating directory %s...\n", shown(path).c_str());
    progress();
}

void Printer::directoryNotMade(const std::string& path, const std::string& why) {
    if (!quietly) std::printf("Creating directory %s...\n", shown(path).c_str());
    failure(path, why, "Unable to create directory %s", shown(path).c_str());
}

void Printer::extracting(const std::string& path, uint32_t size) {
    if (!quietly) std::printf("Extracting %s...", shown(path).c_str());
    startLine(size);
}

void Printer::extracted(const std::string& /*path*/) {
    if (!quietly) std::puts("ok");
    progress();
}

// "failed" completes the file's line; standard error says where and why.
void Printer::notExtracted(const std::string& path, const std::string& why) {
    failure(path, why, "failed");
}

// Told on standard error too, with the fuller reason where there is one.
void Printer::skipped(const std::string& path, const std::string& reason, const std::string& why) {
    failure(path, why, "Skipping %s: %s", shown(path).c_str(), reason.c_str());
}

void Printer::passedOver(const std::string& path, const std::string& reason) {
    if (!quietly) std::printf("Skipping %s: %s\n", shown(path).c_str(), reason.c_str());
    progress();
}

void Printer::notListed(const std::string& directory, const std::string& why) {
    failure(directory, why, "No files found");
}

void Printer::writing(const std::string& path, uint32_t size) {
    if (!quietly) std::printf("Writing %s...\n", shown(path).c_str());
    startLine(size);
}

void Printer::sourceFault(const std::string& path, SourceFault fault, uint32_t bytes,
                          const std::string& why) {
    const std::string name = shown(path);
    switch (fault) {
        case SourceFault::isArchive:
            return failure(path, why, "%s is the archive being written: stored %u zero bytes in its place",
                           name.c_str(), bytes);
        case SourceFault::unreadable:
            return failure(path, why, "Unable to open %s: stored %u zero bytes in its place", name.c_str(),
                           bytes);
        case SourceFault::shrank:
            return failure(path, why, "%s shrank: %u missing bytes stored as zeros", name.c_str(), bytes);
        case SourceFault::grew:
            return failure(path, why, "%s grew: only its first %u bytes stored", name.c_str(), bytes);
    }
}

void Printer::moved() {
    progress();
}

void Printer::writtenInPlace(const std::string& archive, InPlace why) {
    if (quietly) return;
    if (why == InPlace::noTemporaryFile)
        std::printf("Cannot make a temporary file beside %s: writing it in place\n", shown(archive).c_str());
    else
        std::printf("Cannot put the new archive in place of %s: writing it in place\n",
                    shown(archive).c_str());
}

void Printer::archiveFailed(const std::string& archive, ArchiveFault fault, const std::string& why) {
    // Every line printed would land in an archive that is standard output,
    // whatever standard output is, so that one goes where it cannot.
    if (fault == ArchiveFault::standardOutput) return failureOnStderr(archive, why);
    const std::string name = shown(archive);
    const bool named = fault == ArchiveFault::notOpened || fault == ArchiveFault::noTemporaryFile ||
                       fault == ArchiveFault::notWritten;
    const char* line = fault == ArchiveFault::notOpened         ? "Unable to open %s for writing"
                       : fault == ArchiveFault::noTemporaryFile ? "Unable to make a temporary file beside %s"
                       : fault == ArchiveFault::notWritten      ? "Unable to write %s"
                                                                : "%s";
    failure(archive, why, line, named ? name.c_str() : why.c_str());
}

void Printer::ownerNotKept(const std::string& archive) {
    noticeOnStderr(archive, "owner not kept");
}

void Printer::holdSignals() {
    dat::detail::holdSignals();
}

void Printer::releaseSignals() {
    dat::detail::releaseSignals();
}

void Printer::removeOnSignal(const Dir* dir, const std::string& name) {
    dat::detail::removeOnSignal(dir, name);
}

void Printer::raiseHandleLimit() {
    dat::detail::raiseHandleLimit();
}

}  // namespace dat::detail
