#include "e2e/harness.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string drain(int fd) {
    std::string s;
    char buf[65536];
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) s.append(buf, static_cast<size_t>(n));
    return s;
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

}  // namespace

const std::string& programUnderTest() {
    // Absolute, since the program starts in the scratch directory.
    static const std::string exe = fs::absolute(envOr("DATTOOL_EXE", DATTOOL_PATH)).string();
    return exe;
}

namespace {

const std::string& wrapper() {
    static const std::string w = envOr("DATTOOL_WRAPPER", "");
    return w;
}

// Text-mode output ends its lines in CR LF; a lone CR stays.
std::string withoutCr(const std::string& s) {
    std::string t;
    t.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i)
        if (!(s[i] == '\r' && i + 1 < s.size() && s[i + 1] == '\n')) t += s[i];
    return t;
}

ToolRun run(const std::string& exe, const std::string& wrap, const std::vector<std::string>& args,
            const std::string& cwd) {
    // Standard error goes to a file so a full pipe can never block the child.
    std::string errPath = cwd + "/../.stderr-" + std::to_string(getpid());
    std::vector<std::string> argv = wrap.empty() ? std::vector<std::string>{"dattool"}
                                                 : std::vector<std::string>{wrap, exe};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    argp.reserve(argv.size() + 1);
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    const std::string& file = wrap.empty() ? exe : wrap;

    int outPipe[2];
    if (pipe(outPipe) != 0) throw std::runtime_error("pipe");
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (chdir(cwd.c_str()) != 0 || errFd < 0) _exit(127);
        dup2(outPipe[1], 1);
        dup2(errFd, 2);
        close(outPipe[0]);
        execv(file.c_str(), argp.data());
        _exit(127);
    }
    close(outPipe[1]);
    ToolRun r;
    r.raw = drain(outPipe[0]);
    close(outPipe[0]);
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.err = readBytes(errPath);
    unlink(errPath.c_str());
    r.out = endsWith(exe, ".exe") ? withoutCr(r.raw) : r.raw;
    return r;
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& args, const std::string& cwd) {
    return run(programUnderTest(), wrapper(), args, cwd);
}

ToolRun runNative(const std::vector<std::string>& args, const std::string& cwd) {
    return run(DATTOOL_PATH, "", args, cwd);
}

ToolRun runProgram(const std::string& exe, const std::string& wrapper, const std::vector<std::string>& args,
                   const std::string& cwd) {
    return run(fs::absolute(exe).string(), wrapper, args, cwd);
}

bool testingWindowsBuild() { return endsWith(programUnderTest(), ".exe"); }

bool runsWrapped() { return !wrapper().empty(); }
