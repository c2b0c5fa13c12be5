#include "options.h"

namespace dat::detail {

namespace {

bool isCommand(char c) {
    return c == 'c' || c == 'l' || c == 'x' || c == 'u' || c == 'd';
}

struct Reading {
    Options options;
    bool endOfOptions = false;
    bool hasArchive = false;
};

Options wrong(Options o, const std::string& what, const std::string& why) {
    o.ask = Ask::wrong;
    o.what = what;
    o.why = why;
    return o;
}

void takeName(Reading& r, const std::string& arg) {
    if (r.hasArchive) {
        r.options.names.push_back(arg);
    } else {
        r.options.archive = arg;
        r.hasArchive = true;
    }
}

// Reads the cluster of short options in args[i] ("-qv", "-Cdir"); may take
// args[i + 1] as -C's directory. False, with r.options saying why, when
// reading stops here.
bool takeShort(Reading& r, const std::vector<std::string>& args, size_t& i) {
    Options& o = r.options;
    const std::string& arg = args[i];
    for (size_t k = 1; k < arg.size(); ++k) {
        switch (arg[k]) {
            case 'q':
                o.quiet = true;
                break;
            case 'v':
                o.verbose = true;
                break;
            case 'h':
                o.ask = Ask::help;
                return false;
            case 'C': {
                // One -C: which of two would be meant cannot be told.
                if (!o.directory.empty()) {
                    o = wrong(o, "-C", "given more than once");
                    return false;
                }
                std::string dir = arg.substr(k + 1);
                if (dir.empty() && i + 1 < args.size()) dir = args[++i];
                if (dir.empty()) {
                    o = wrong(o, "-C", "needs a directory");
                    return false;
                }
                o.directory = dir;
                return true;
            }
            default:
                o = wrong(o, "-" + std::string(1, arg[k]), "unknown option");
                return false;
        }
    }
    return true;
}

// Help or version, asked for by arg, the command word or an option.
bool asksAbout(const std::string& arg, bool commandWord, Options& o) {
    if (arg == "--help" || arg == "-h" || (commandWord && arg == "help"))
        o.ask = Ask::help;
    else if (arg == "--version")
        o.ask = Ask::version;
    else
        return false;
    return true;
}

// Reads args[i], and args[i + 1] too when it is -C's directory. False, with
// r.options saying why, when reading stops here.
bool takeArgument(Reading& r, const std::vector<std::string>& args, size_t& i) {
    const std::string& arg = args[i];
    // "-" alone is a name, as everywhere.
    if (r.endOfOptions || arg.size() < 2 || arg[0] != '-') {
        takeName(r, arg);
        return true;
    }
    if (arg == "--") {
        r.endOfOptions = true;
        return true;
    }
    if (arg[1] != '-') return takeShort(r, args, i);
    if (!asksAbout(arg, false, r.options)) r.options = wrong(r.options, arg, "unknown option");
    return false;
}

// What the command still lacks, or an option it cannot use: refused,
// never ignored.
Options checked(const Reading& r, const std::string& word) {
    const Options& o = r.options;
    if (!r.hasArchive) return wrong(o, word, "no archive given");
    if (o.command == 'c' && o.names.empty()) return wrong(o, word, "no directory given");
    if (o.command == 'u' && o.names.empty()) return wrong(o, word, "no path given");
    if (o.command == 'd' && o.names.empty()) return wrong(o, word, "no member given");
    const std::string command(1, o.command);
    if (o.verbose && o.command != 'l') return wrong(o, "-v", "not an option of " + command);
    if (!o.directory.empty() && (o.command == 'l' || o.command == 'd'))
        return wrong(o, "-C", "not an option of " + command);
    return o;
}

}  // namespace

Options readOptions(const std::vector<std::string>& args) {
    Reading r;
    Options& o = r.options;
    if (args.size() < 2) return wrong(o, "command line", "no command given");
    const std::string& word = args[1];
    if (asksAbout(word, true, o)) return o;
    // Only the first byte of the command word counts, as it always has.
    o.command = word.empty() ? '\0' : word[0];
    // Unknown commands are refused: silence would look like success.
    if (!isCommand(o.command)) return wrong(o, word, "unknown command");
    for (size_t i = 2; i < args.size(); ++i)
        if (!takeArgument(r, args, i)) return o;
    return checked(r, word);
}

const char* helpText() {
    return R"(Usage: dattool COMMAND [OPTION...] ARCHIVE [NAME...]
Creates, lists and extracts DAT archives.

Commands:
  c ARCHIVE DIRECTORY...  create ARCHIVE from the directories
  l ARCHIVE [MEMBER...]   list the paths in ARCHIVE, or only the members
  x ARCHIVE [MEMBER...]   extract ARCHIVE, or only the members, here
  u ARCHIVE PATH...       add the files and directories at PATH to ARCHIVE,
                          in place of entries of the same path
  d ARCHIVE MEMBER...     remove the members from ARCHIVE
  help, -h, --help        show this help
  --version               show the version

Options, anywhere after the command:
  -C DIR  x: extract below DIR, made if missing; c, u: read the paths in DIR
  -q      quiet: l prints the paths alone, c, x, u and d nothing but failures
  -v      l: each entry's type, size and data offset, then the totals
  --      what follows is a name, even if it begins with "-"

A MEMBER is a path as l lists it, or a pattern of the whole path: * and ?
match any characters, / included, and [...] one of a set; / and \ are the
same separator; a directory stands for everything below it.

Examples:
  dattool c game.dat data textures
  dattool l -v game.dat
  dattool x game.dat 'textures/*.tex' -C out
  dattool u game.dat textures/wall.tex
  dattool d game.dat 'textures/old*'

Failures are told on standard error; the exit status is 0 only when
everything asked for was done. Manual: man dattool (dattool(1)).
)";
}

}  // namespace dat::detail
