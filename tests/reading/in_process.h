// Runs the reading side of "l" and "x" inside the test process, which is
// far faster than starting the tool for each of thousands of archives.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <string>

#include "archive/entry.h"
#include "archive/format.h"
#include "archive/keyed_stream.h"
#include "commands.h"
#include "reading/extraction.h"
#include "reading/toc_reader.h"

// Sends the tool's progress lines to /dev/null while it lives.
struct Silenced {
    int saved;
    Silenced() {
        std::fflush(stdout);
        saved = dup(1);
        int null = open("/dev/null", O_WRONLY);
        if (saved < 0 || null < 0 || dup2(null, 1) < 0) throw std::runtime_error("cannot silence stdout");
        close(null);
    }
    ~Silenced() {
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
    }
    Silenced(const Silenced&) = delete;
    Silenced& operator=(const Silenced&) = delete;
};

// Works in dir while it lives.
struct InDir {
    std::string previous;
    explicit InDir(const std::string& dir) {
        char buf[4096];
        if (!getcwd(buf, sizeof buf) || chdir(dir.c_str()) != 0)
            throw std::runtime_error("cannot enter " + dir);
        previous = buf;
    }
    ~InDir() {
        if (chdir(previous.c_str()) != 0) std::perror("chdir back");
    }
    InDir(const InDir&) = delete;
    InDir& operator=(const InDir&) = delete;
};

struct ReadRun {
    dat::detail::Toc toc = dat::detail::Toc::notArchive;
    int status = 255;              // as the tool would exit: 0 or 255
    dat::detail::Archive archive;  // what the reader made of it
};

// Runs "l" (extract false) or "x" (extract true) on archive in the current
// directory, exactly as the tool does; the lines go to stdout. archive is
// what the reader made of the archive, read once more afterwards, and toc
// its status.
inline ReadRun readInProcess(const std::string& archive, bool extract) {
    ReadRun r;
    r.status = dat::detail::runCommand({"dattool", extract ? "x" : "l", archive}) == 0 ? 0 : 255;
    const dat::detail::File f = dat::detail::fileOpenRead(archive);
    if (!f) throw std::runtime_error("cannot open " + archive);
    r.archive = dat::detail::parseFile(f);
    r.toc = r.archive.status;
    return r;
}
