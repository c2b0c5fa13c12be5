#include "report.h"

#include <cstdarg>
#include <cstdio>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "reading/toc_reader.h"

namespace {

bool failedSoFar = false;

}  // namespace

void failure(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
    std::putchar('\n');
    failedSoFar = true;
}

bool runFailed() { return failedSoFar; }

void resetRun() {
    key = initialKey;
    root = Entry{typeDirectory, {}, 0, 0, 0, 0, {}};
    tocSize = 0;
    files = 0;
    failedSoFar = false;
}
