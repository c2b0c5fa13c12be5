#include "report.h"

#include <cstdarg>
#include <cstdio>

#include "platform/platform.h"

namespace {

bool failedSoFar = false;
bool onTerminal = false;

}  // namespace

void failure(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    failedSoFar = true;
}

void failureOnStderr(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    failedSoFar = true;
}

bool runFailed() {
    return failedSoFar;
}

std::string shown(const std::string& name) {
    if (!onTerminal) return name;
    std::string s = name;
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    return s;
}

bool outputDelivered() {
    return std::fflush(stdout) == 0 && !std::ferror(stdout);
}

void startReport() {
    failedSoFar = false;
    std::fflush(stdout);
    std::clearerr(stdout);
    onTerminal = outputIsTerminal();
    // A line without its line break would wait in the buffer until the work
    // it announces is done; a pipe or a file keeps its buffer, which is
    // what makes many small files fast.
    if (onTerminal) std::setvbuf(stdout, nullptr, _IONBF, 0);
}
