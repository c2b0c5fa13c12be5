#include "report.h"

#include <cerrno>
#include <chrono>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace dat::detail {

namespace {

constexpr auto progressInterval = std::chrono::milliseconds(100);
// A file larger than this takes a while: its line goes out before its work.
constexpr uint64_t largeFile = uint64_t(1) << 20;

// The length of the UTF-8 sequence that lead starts, with code set to the
// bits lead gives of its value; 0 when lead starts none.
size_t sequenceLength(unsigned char lead, uint32_t& code) {
    if (lead >= 0xC2 && lead <= 0xDF) {
        code = lead & 0x1Fu;
        return 2;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        code = lead & 0x0Fu;
        return 3;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        code = lead & 0x07u;
        return 4;
    }
    return 0;
}

// Bytes of the UTF-8 sequence at s[i] that stands for a printable
// character, or 0 when there is none: a C0 or C1 control, DEL, or a
// sequence that is cut short, overlong, a surrogate or past U+10FFFF.
size_t printableSequence(const std::string& s, size_t i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    if (lead < 0x80) return lead >= 0x20 && lead != 0x7F ? 1 : 0;
    uint32_t code = 0;
    const size_t n = sequenceLength(lead, code);
    if (n == 0 || i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        code = code << 6 | (byte(i + k) & 0x3Fu);
    }
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return code <= 0x9F ? 0 : n;
}

}  // namespace

Printer::Printer() {
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
    const std::string name = errorsOnTerminal ? escaped(path) : path;
    std::fprintf(stderr, "dattool: %s: %s\n", name.c_str(), reason.c_str());
}

void Printer::failure(const std::string& path, const std::string& reason, const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    failureOnStderr(path, reason);
}

void Printer::failureOnStderr(const std::string& path, const std::string& reason) {
    // With both streams on one pipe, the reason follows its line.
    send();
    stderrLine(path, reason);
    failedSoFar = true;
}

std::string escaped(const std::string& name) {
    std::string s;
    s.reserve(name.size());
    if (!terminalTakesUtf8()) {
        for (char c : name) s += static_cast<unsigned char>(c) < 0x20 || c == 0x7F ? '?' : c;
        return s;
    }
    for (size_t i = 0; i < name.size();) {
        const size_t n = printableSequence(name, i);
        if (n == 0) {
            // A C1 control is one "?", whatever its length; any other
            // byte that is no character is one "?" of its own.
            const bool c1 = static_cast<unsigned char>(name[i]) == 0xC2 && i + 1 < name.size() &&
                            static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                            static_cast<unsigned char>(name[i + 1]) <= 0x9F;
            s += '?';
            i += c1 ? 2 : 1;
            continue;
        }
        s.append(name, i, n);
        i += n;
    }
    return s;
}

std::string Printer::shown(const std::string& name) const {
    return outputOnTerminal ? escaped(name) : name;
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
    std::puts("Extracting...");
}

void Printer::extractionEnds(uint32_t files) {
    std::printf("Extracted %u file(s)\n", files);
    progress();
}

void Printer::noCurrentDirectory(const std::string& why) {
    failure(".", why, "Unable to open the current directory");
}

void Printer::directoryMade(const std::string& path) {
    std::printf("Creating directory %s...\n", shown(path).c_str());
    progress();
}

void Printer::directoryNotMade(const std::string& path, const std::string& why) {
    std::printf("Creating directory %s...\n", shown(path).c_str());
    failure(path, why, "Unable to create directory %s", shown(path).c_str());
}

void Printer::extracting(const std::string& path, uint32_t size) {
    std::printf("Extracting %s...", shown(path).c_str());
    startLine(size);
}

void Printer::extracted(const std::string& /*path*/) {
    std::puts("ok");
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
    std::printf("Skipping %s: %s\n", shown(path).c_str(), reason.c_str());
    progress();
}

void Printer::notListed(const std::string& directory, const std::string& why) {
    failure(directory, why, "No files found");
}

void Printer::writing(const std::string& path, uint32_t size) {
    std::printf("Writing %s...\n", shown(path).c_str());
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

}  // namespace dat::detail
