#include "e2e/harness.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <thread>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, at least 0.
int msLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Reads fd to its end, or until deadline; false when the deadline came first.
bool drain(int fd, std::string& s, Clock::time_point deadline) {
    char buf[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = poll(&p, 1, msLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready == 0) return false;
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return true;
        s.append(buf, static_cast<size_t>(n));
    }
}

// Waits for pid to end, or until deadline; false when the deadline came first.
bool reap(pid_t pid, int& st, Clock::time_point deadline) {
    for (auto pause = std::chrono::microseconds(100);; pause = std::min(pause * 2, decltype(pause)(10000))) {
        const pid_t done = waitpid(pid, &st, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) return true;
        if (msLeft(deadline) == 0) return false;
        std::this_thread::sleep_for(pause);
    }
}

bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

std::string envOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}

// How long one run of the tool may take: far more than any run needs, so
// that only a hang reaches it. Slow ways of running the tool (valgrind,
// wine) multiply it by DATTOOL_TEST_TIME_FACTOR.
std::chrono::milliseconds runLimit(int seconds) {
    static const double factor = std::max(1.0, std::atof(envOr("DATTOOL_TEST_TIME_FACTOR", "1").c_str()));
    return std::chrono::milliseconds(static_cast<long long>(1000 * seconds * factor));
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

// Sets a variable for the tool's runs while it lives.
struct EnvVar {
    std::string name;
    std::string old;
    bool had;
    EnvVar(const std::string& n, const std::string& value) : name(n) {
        const char* v = std::getenv(n.c_str());
        had = v != nullptr;
        if (had) old = v;
        setenv(n.c_str(), value.c_str(), 1);
    }
    ~EnvVar() {
        if (had)
            setenv(name.c_str(), old.c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;
};

// Where the localised text of a system reason stands in an expected line.
const std::string anyReason = "\x01";

// Who the child runs as: the same user unless set.
struct User {
    bool set = false;
    uid_t uid = 0;
    gid_t gid = 0;
};

ToolRun run(const std::string& exe, const std::string& wrap, const std::vector<std::string>& args,
            const std::string& cwd, Output to = Output::pipe, const std::string& file = "", User as = {},
            int seconds = 20) {
    // Standard error goes to a file so a full pipe can never block the child.
    std::string errPath = cwd + "/../.stderr-" + std::to_string(getpid());
    std::vector<std::string> argv =
        wrap.empty() ? std::vector<std::string>{"dattool"} : std::vector<std::string>{wrap, exe};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> argp;
    argp.reserve(argv.size() + 1);
    for (auto& a : argv) argp.push_back(a.data());
    argp.push_back(nullptr);
    const std::string& program = wrap.empty() ? exe : wrap;

    // [0] is read here, [1] becomes the program's standard output.
    int outEnds[2] = {-1, -1};
    int errEnds[2] = {-1, -1};  // errorsOnTerminal: [1] becomes standard error
    const bool piped = to == Output::pipe || to == Output::brokenPipe || to == Output::merged ||
                       to == Output::errorsOnTerminal;
    if (piped && pipe(outEnds) != 0) throw std::runtime_error("pipe");
    if (to == Output::brokenPipe) {
        close(outEnds[0]);
        outEnds[0] = -1;
    }
    // Raw, so the terminal passes the bytes as written: no CR added.
    termios raw{};
    cfmakeraw(&raw);
    if (to == Output::terminal && openpty(&outEnds[0], &outEnds[1], nullptr, &raw, nullptr) != 0)
        throw std::runtime_error("openpty");
    if (to == Output::errorsOnTerminal && openpty(&errEnds[0], &errEnds[1], nullptr, &raw, nullptr) != 0)
        throw std::runtime_error("openpty");
    const auto limit = runLimit(seconds);
    pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork");
    if (pid == 0) {
        // A group of its own, so that a hung run is killed with whatever it started.
        setpgid(0, 0);
        int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (chdir(cwd.c_str()) != 0 || errFd < 0) _exit(127);
        const bool toFile = to == Output::file || to == Output::fileWithoutStderr;
        if (toFile) outEnds[1] = open(file.c_str(), O_RDWR | O_CREAT | O_APPEND, 0600);
        if (to == Output::closed)
            close(1);
        else
            dup2(outEnds[1], 1);
        if (to == Output::fileWithoutStderr)
            close(2);
        else
            dup2(to == Output::merged ? 1 : to == Output::errorsOnTerminal ? errEnds[1] : errFd, 2);
        if (outEnds[0] >= 0) close(outEnds[0]);
        if (errEnds[0] >= 0) close(errEnds[0]);
        if (as.set && (setgroups(0, nullptr) != 0 || setgid(as.gid) != 0 || setuid(as.uid) != 0)) _exit(126);
        // The program gets its three standard descriptors and none of what
        // this process, or whatever started it, holds; the signals it
        // handles come through as from a terminal, whatever ignored or
        // blocked them here (a run in the background, nohup).
        closefrom(3);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGINT, SIGTERM, SIGHUP}) signal(sig, SIG_DFL);
        execv(program.c_str(), argp.data());
        _exit(127);
    }
    if (outEnds[1] >= 0) close(outEnds[1]);
    if (errEnds[1] >= 0) close(errEnds[1]);
    ToolRun r;
    const Clock::time_point deadline = Clock::now() + limit;
    bool ended = true;
    if (outEnds[0] >= 0) {
        ended = drain(outEnds[0], r.raw, deadline);
        close(outEnds[0]);
    }
    std::string errTerminal;
    if (errEnds[0] >= 0) {
        ended = drain(errEnds[0], errTerminal, deadline) && ended;
        close(errEnds[0]);
    }
    int st = 0;
    if (!ended || !reap(pid, st, deadline)) {
        kill(-pid, SIGKILL);
        kill(pid, SIGKILL);
        while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
        std::string line;
        for (const std::string& a : args) line += " " + a;
        ADD_FAILURE() << "dattool" << line << " (in " << cwd << ") still ran after "
                      << std::chrono::duration_cast<std::chrono::seconds>(limit).count()
                      << " s and was killed; output so far:\n"
                      << r.raw;
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    r.err = to == Output::errorsOnTerminal ? errTerminal : readBytes(errPath);
    if (endsWith(exe, ".exe")) r.err = withoutCr(r.err);
    unlink(errPath.c_str());
    r.out = endsWith(exe, ".exe") ? withoutCr(r.raw) : r.raw;
    return r;
}

}  // namespace

ToolRun runTool(const std::vector<std::string>& args, const std::string& cwd) {
    return run(programUnderTest(), wrapper(), args, cwd);
}

ToolRun runSlowTool(const std::vector<std::string>& args, const std::string& cwd) {
    return run(programUnderTest(), wrapper(), args, cwd, Output::pipe, "", {}, 120);
}

ToolRun runToolTo(const std::vector<std::string>& args, const std::string& cwd, Output to,
                  const std::string& file) {
    return run(programUnderTest(), wrapper(), args, cwd, to, file);
}

ToolRun runWithFaults(const std::vector<std::string>& args, const std::string& cwd, const std::string& faults,
                      Output to) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    // Under the sanitizers, the preloaded shim comes before their runtime.
    EnvVar a("ASAN_OPTIONS", std::string(asan ? asan : "") + ":verify_asan_link_order=0");
    EnvVar p("LD_PRELOAD", DATTOOL_FAULT_SHIM);
    EnvVar f("DATTOOL_TEST_FAULTS", faults);
    return runToolTo(args, cwd, to);
}

bool canRunUnprivileged() {
    const char* preload = std::getenv("LD_PRELOAD");
    const bool valgrind = preload && std::strstr(preload, "vgpreload");
    return !runsWrapped() && !(geteuid() == 0 && valgrind);
}

ToolRun runUnprivileged(const std::vector<std::string>& args, const std::string& cwd) {
    User as;
    const passwd* nobody = geteuid() == 0 && canRunUnprivileged() ? getpwnam("nobody") : nullptr;
    if (nobody) as = User{true, nobody->pw_uid, nobody->pw_gid};
    return run(programUnderTest(), wrapper(), args, cwd, Output::pipe, "", as);
}

std::string errLine(const std::string& path, const std::string& reason) {
    return "dattool: " + path + ": " + reason + "\n";
}

std::string sysLine(const std::string& path, const std::string& reason) {
    return errLine(path, testingWindowsBuild() ? anyReason : reason);
}

bool errorsMatch(const std::string& err, const std::string& want) {
    const std::string& got = err;
    size_t g = 0, w = 0;
    while (w < want.size()) {
        const size_t wantEnd = want.find('\n', w), gotEnd = got.find('\n', g);
        if (wantEnd == std::string::npos || gotEnd == std::string::npos) return false;
        const std::string line = want.substr(w, wantEnd - w), have = got.substr(g, gotEnd - g);
        const size_t any = line.find(anyReason);
        const bool same = any == std::string::npos
                              ? line == have
                              : have.size() > any && have.compare(0, any, line, 0, any) == 0;
        if (!same) return false;
        w = wantEnd + 1;
        g = gotEnd + 1;
    }
    return g == got.size();
}

ToolRun runAsNobody(const std::string& exe, const std::vector<std::string>& args, const std::string& cwd) {
    const passwd* nobody = getpwnam("nobody");
    if (!nobody) return ToolRun{"", "", "", 126};
    return run(exe, "", args, cwd, Output::pipe, "", User{true, nobody->pw_uid, nobody->pw_gid});
}

ToolRun runNative(const std::vector<std::string>& args, const std::string& cwd) {
    return run(DATTOOL_PATH, "", args, cwd);
}

ToolRun runProgram(const std::string& exe, const std::string& wrapper, const std::vector<std::string>& args,
                   const std::string& cwd, Output to) {
    return run(fs::absolute(exe).string(), wrapper, args, cwd, to);
}

bool testingWindowsBuild() {
    return endsWith(programUnderTest(), ".exe");
}

bool runsWrapped() {
    return !wrapper().empty();
}
