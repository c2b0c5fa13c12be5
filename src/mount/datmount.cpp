// datmount ARCHIVE MOUNTPOINT [-f] [-o OPTIONS]: the archive's tree as a
// read-only file system. Nothing in an archive changes while it is mounted,
// so the kernel may keep every entry, attribute and page it has seen.
#define FUSE_USE_VERSION 31

#include <fcntl.h>
#include <fuse_lowlevel.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "mount/mount_point.h"
#include "mount/source.h"
#include "mount/tree.h"
#include "platform/platform.h"
#include "terminal.h"

using namespace dat::detail;

namespace {

// A day: the kernel drops nothing it may keep for the mount's lifetime in
// practice, and a number this size fits every kernel's timeout field.
constexpr double forever = 86400.0;

struct Mounted {
    Source source;
    MountTree tree;
    uid_t uid = 0;
    gid_t gid = 0;
    mode_t dirMode = 0555, fileMode = 0444;
    struct timespec atime {
    }, mtime{}, ctime{};
};

const Mounted& mountedOf(fuse_req_t req) {
    return *static_cast<const Mounted*>(fuse_req_userdata(req));
}

const MountNode* nodeOf(const Mounted& m, fuse_ino_t ino) {
    return ino >= 1 && ino <= m.tree.nodes.size() ? &m.tree.nodes[ino - 1] : nullptr;
}

// A request that needs memory when none is left fails with ENOMEM; the
// mount goes on. Each body allocates before it replies.
template <typename Body>
void answering(fuse_req_t req, Body body) {
    try {
        body();
    } catch (const std::bad_alloc&) {
        fuse_reply_err(req, ENOMEM);
    }
}

struct stat attrOf(const Mounted& m, fuse_ino_t ino, const MountNode& n) {
    struct stat st {};
    st.st_ino = ino;
    st.st_mode = n.directory ? S_IFDIR | m.dirMode : S_IFREG | m.fileMode;
    st.st_nlink = 1;
    if (n.directory) {
        st.st_nlink = 2;
        for (const auto& c : n.children)
            if (m.tree.nodes[c.second - 1].directory) ++st.st_nlink;
    }
    st.st_uid = m.uid;
    st.st_gid = m.gid;
    st.st_size = static_cast<off_t>(n.size);
    st.st_blksize = 1 << 17;
    st.st_blocks = static_cast<blkcnt_t>((n.size + 511) / 512);
    st.st_atim = m.atime;
    st.st_mtim = m.mtime;
    st.st_ctim = m.ctime;
    return st;
}

void lookupIn(fuse_req_t req, fuse_ino_t parent, const char* name) {
    const Mounted& m = mountedOf(req);
    const MountNode* dir = nodeOf(m, parent);
    if (!dir || !dir->directory) {
        fuse_reply_err(req, ENOTDIR);
        return;
    }
    fuse_entry_param e{};
    e.entry_timeout = forever;
    e.attr_timeout = forever;
    // Inode 0 answers "no such name" and lets the kernel remember that too.
    e.ino = lookupChild(m.tree, parent, name);
    if (e.ino != 0) e.attr = attrOf(m, e.ino, m.tree.nodes[e.ino - 1]);
    fuse_reply_entry(req, &e);
}

void opGetattr(fuse_req_t req, fuse_ino_t ino, fuse_file_info* /*fi*/) {
    const Mounted& m = mountedOf(req);
    const MountNode* n = nodeOf(m, ino);
    if (!n) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    const struct stat st = attrOf(m, ino, *n);
    fuse_reply_attr(req, &st, forever);
}

void opOpendir(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    const MountNode* n = nodeOf(mountedOf(req), ino);
    if (!n || !n->directory) {
        fuse_reply_err(req, ENOTDIR);
        return;
    }
    // The kernel's copy of a listing (cache_readdir) is left off: filling it
    // costs a cold walk more than it saves a second one (bench/README.md),
    // and entries and attributes stay cached without it.
    fuse_reply_open(req, fi);
}

void listDir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off) {
    const Mounted& m = mountedOf(req);
    const MountNode* n = nodeOf(m, ino);
    if (!n || !n->directory) {
        fuse_reply_err(req, ENOTDIR);
        return;
    }
    // Offsets 0 and 1 are "." and ".."; the children follow in the order "x"
    // makes them.
    std::vector<char> buf(size);
    size_t used = 0;
    const size_t count = n->children.size() + 2;
    for (auto i = static_cast<size_t>(std::max<off_t>(off, 0)); i < count; ++i) {
        struct stat st {};
        const char* name = i == 0 ? "." : "..";
        fuse_ino_t at = i == 0 ? ino : n->parent;
        if (i >= 2) {
            name = n->children[i - 2].first.c_str();
            at = n->children[i - 2].second;
        }
        st.st_ino = at;
        st.st_mode = m.tree.nodes[at - 1].directory ? S_IFDIR : S_IFREG;
        const size_t need =
            fuse_add_direntry(req, buf.data() + used, size - used, name, &st, static_cast<off_t>(i + 1));
        if (need > size - used) break;
        used += need;
    }
    fuse_reply_buf(req, buf.data(), used);
}

void opOpen(fuse_req_t req, fuse_ino_t ino, fuse_file_info* fi) {
    const MountNode* n = nodeOf(mountedOf(req), ino);
    if (!n) {
        fuse_reply_err(req, ENOENT);
        return;
    }
    if (n->directory) {
        fuse_reply_err(req, EISDIR);
        return;
    }
    if ((fi->flags & O_ACCMODE) != O_RDONLY || (fi->flags & O_TRUNC) != 0) {
        fuse_reply_err(req, EROFS);
        return;
    }
    fi->keep_cache = 1;
    fuse_reply_open(req, fi);
}

void readFile(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off) {
    const Mounted& m = mountedOf(req);
    const MountNode* n = nodeOf(m, ino);
    if (!n || n->directory) {
        fuse_reply_err(req, EISDIR);
        return;
    }
    const auto at = static_cast<uint64_t>(off);
    if (off < 0 || at >= n->size) {
        fuse_reply_buf(req, nullptr, 0);
        return;
    }
    // One positioned read for the whole request, into this thread's buffer.
    thread_local std::vector<char> buf;
    const auto want = static_cast<size_t>(std::min<uint64_t>(size, n->size - at));
    if (buf.size() < want) buf.resize(want);
    // The archive may have been cut short or replaced since it was opened:
    // a short read fails rather than return bytes that are not the member's.
    if (!readMember(m.source, n->member, at, buf.data(), want)) {
        fuse_reply_err(req, EIO);
        return;
    }
    fuse_reply_buf(req, buf.data(), want);
}

void opLookup(fuse_req_t req, fuse_ino_t parent, const char* name) {
    answering(req, [&] { lookupIn(req, parent, name); });
}

void opReaddir(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* /*fi*/) {
    answering(req, [&] { listDir(req, ino, size, off); });
}

void opRead(fuse_req_t req, fuse_ino_t ino, size_t size, off_t off, fuse_file_info* /*fi*/) {
    answering(req, [&] { readFile(req, ino, size, off); });
}

void opStatfs(fuse_req_t req, fuse_ino_t /*ino*/) {
    const Mounted& m = mountedOf(req);
    struct statvfs st {};
    st.f_bsize = 1 << 17;
    st.f_frsize = 512;
    uint64_t blocks = 0;
    for (const MountNode& n : m.tree.nodes) blocks += (n.size + 511) / 512;
    st.f_blocks = blocks;
    st.f_files = m.tree.nodes.size();
    st.f_namemax = maxMountName;
    fuse_reply_statfs(req, &st);
}

// On a terminal, the path is shown as dattool shows it.
void say(const std::string& path, const std::string& reason) {
    std::fprintf(stderr, "datmount: %s: %s\n", shownOn(errorIsTerminal(), path).c_str(), reason.c_str());
}

void usage(FILE* to) {
    std::fputs(
        "usage: datmount ARCHIVE MOUNTPOINT [-f] [-s] [-o OPTION[,OPTION...]]\n"
        "Shows a DAT archive as a read-only file system; fusermount3 -u MOUNTPOINT unmounts it.\n",
        to);
}

void help() {
    usage(stdout);
    std::fputs(
        "\n"
        "datmount's own options:\n"
        "    -o uid=N               owner of every entry (default: whoever mounts)\n"
        "    -o gid=N               group of every entry (default: that of whoever mounts)\n"
        "    -o umask=M             directories 0777 and files 0666 less the octal mask M\n"
        "                           (default: 0222, so 0555 and 0444)\n"
        "    -o nonempty            accepted and ignored: a mount point that is not empty\n"
        "                           is always mounted over, with a warning\n"
        "A mount point that is a mount already is refused. When fusermount3 -u says\n"
        "\"Device or resource busy\", a program is still using the mount: end it, or\n"
        "detach the mount at once with fusermount3 -uz MOUNTPOINT (it goes when unused).\n"
        "\n",
        stdout);
}

// What the command line asks besides libfuse's own options.
struct Settings {
    std::string archive;
    std::optional<std::string> uid, gid, umask;  // as given, the last of each
};

enum { keyUid, keyGid, keyUmask };

// FUSE_OPT_KEY's own spelling of "handed to takeOwn", without the
// conversion its macro leaves implicit.
constexpr auto byKey = static_cast<unsigned long>(-1U);

const fuse_opt ownOptions[] = {
    {"uid=", byKey, keyUid},
    {"gid=", byKey, keyGid},
    {"umask=", byKey, keyUmask},
    // Other mounts' way of allowing a mount point that is not empty, which
    // libfuse 3 always allows and no longer knows.
    {"nonempty", byKey, FUSE_OPT_KEY_DISCARD},
    FUSE_OPT_END,
};

// A number in base made of digits alone, at most max.
bool parseNumber(const std::string& text, unsigned base, uint64_t max, uint64_t& value) {
    if (text.empty()) return false;
    value = 0;
    for (const char c : text) {
        const auto digit = static_cast<unsigned>(c - '0');
        if (c < '0' || digit >= base) return false;
        value = value * base + digit;
        if (value > max) return false;
    }
    return true;
}

// Takes the first argument that is not an option as the archive and the
// options above, and leaves the rest, the mount point among them, to
// libfuse.
int takeOwn(void* data, const char* arg, int key, fuse_args* /*outargs*/) {
    auto* s = static_cast<Settings*>(data);
    switch (key) {
        case FUSE_OPT_KEY_NONOPT:
            if (!s->archive.empty()) return 1;
            s->archive = arg;
            return 0;
        case keyUid:
        case keyGid:
        case keyUmask: {
            // The last of one option counts, as with mount's own options.
            std::optional<std::string>& value = key == keyUid ? s->uid : key == keyGid ? s->gid : s->umask;
            value = std::strchr(arg, '=') + 1;
            return 0;
        }
        default:
            return 1;
    }
}

// Puts the settings' owner and modes into mounted; false with the option
// and the reason set when a value cannot be taken.
bool applySettings(const Settings& settings, Mounted& mounted, std::string& option, std::string& why) {
    // (uid_t)-1 means "no owner" to the system, so the largest is one less.
    constexpr uint64_t maxId = 0xFFFFFFFEu;
    uint64_t uid = getuid(), gid = getgid(), mask = 0222;  // files 0444, directories 0555
    if (settings.uid && !parseNumber(*settings.uid, 10, maxId, uid)) {
        option = "uid=" + *settings.uid;
        why = "not a numeric ID";
        return false;
    }
    if (settings.gid && !parseNumber(*settings.gid, 10, maxId, gid)) {
        option = "gid=" + *settings.gid;
        why = "not a numeric ID";
        return false;
    }
    if (settings.umask && !parseNumber(*settings.umask, 8, 0777, mask)) {
        option = "umask=" + *settings.umask;
        why = "not an octal mask up to 0777";
        return false;
    }
    mounted.uid = static_cast<uid_t>(uid);
    mounted.gid = static_cast<gid_t>(gid);
    // As a program makes them under that umask: no file is executable,
    // since an archive keeps no modes.
    mounted.dirMode = 0777 & ~static_cast<mode_t>(mask);
    mounted.fileMode = 0666 & ~static_cast<mode_t>(mask);
    return true;
}

// Frees what libfuse allocated, whichever way main leaves.
struct Args {
    fuse_args args;
    fuse_cmdline_opts opts{};
    ~Args() {
        fuse_opt_free_args(&args);
        free(opts.mountpoint);  // NOLINT(cppcoreguidelines-no-malloc): libfuse allocated it
    }
};

constexpr int statusFailed = 255;

int serve(Mounted& mounted, Args& a) {
    fuse_lowlevel_ops ops{};
    ops.lookup = opLookup;
    ops.getattr = opGetattr;
    ops.opendir = opOpendir;
    ops.readdir = opReaddir;
    ops.open = opOpen;
    ops.read = opRead;
    ops.statfs = opStatfs;
    fuse_session* se = fuse_session_new(&a.args, &ops, sizeof ops, &mounted);
    if (!se) return statusFailed;
    int status = statusFailed;
    if (fuse_set_signal_handlers(se) == 0) {
        if (fuse_session_mount(se, a.opts.mountpoint) == 0) {
            fuse_daemonize(a.opts.foreground);
            const int loop =
                a.opts.singlethread ? fuse_session_loop(se) : fuse_session_loop_mt(se, a.opts.clone_fd);
            status = loop == 0 ? 0 : statusFailed;
            fuse_session_unmount(se);
        } else {
            say(a.opts.mountpoint, "cannot mount there");
        }
        fuse_remove_signal_handlers(se);
    }
    fuse_session_destroy(se);
    return status;
}

}  // namespace

int main(int argc, char* argv[]) {
    Args a{FUSE_ARGS_INIT(argc, argv)};
    Settings settings;
    if (fuse_opt_parse(&a.args, &settings, ownOptions, takeOwn) != 0 ||
        fuse_parse_cmdline(&a.args, &a.opts) != 0) {
        usage(stderr);
        return statusFailed;
    }
    if (a.opts.show_help) {
        help();
        fuse_cmdline_help();
        fuse_lowlevel_help();
        return 0;
    }
    if (a.opts.show_version) {
        std::puts("datmount " DATTOOL_VERSION);
        // fusermount3, run by libfuse, prints part of what follows
        // itself: this line must be out first, to a pipe as well.
        std::fflush(stdout);
        fuse_lowlevel_version();
        return 0;
    }
    const std::string& archive = settings.archive;
    if (archive.empty() || !a.opts.mountpoint) {
        usage(stderr);
        return statusFailed;
    }
    Mounted mounted;
    std::string option, why;
    if (!applySettings(settings, mounted, option, why)) {
        say(option, why);
        return statusFailed;
    }
    // Checked before the archive is read, so a mistyped point is said at
    // once; a mount made between here and the mount itself goes unseen.
    switch (examinePoint(a.opts.mountpoint, why)) {
        case PointState::mounted:
            say(a.opts.mountpoint, "already a mount point");
            return statusFailed;
        case PointState::failed:
            say(a.opts.mountpoint, why);
            return statusFailed;
        case PointState::notEmpty:
            say(a.opts.mountpoint, "not empty; what it holds is hidden until unmounted");
            break;
        case PointState::fit:
            break;
    }
    try {
        if (!openSource(archive, mounted.source, why)) {
            say(archive, why);
            return statusFailed;
        }
        mounted.tree = buildTree(mounted.source);
    } catch (const std::bad_alloc&) {
        mounted.source = {};
        mounted.tree = {};
        say(archive, "Archive does not fit in memory");
        return statusFailed;
    }
    for (const LeftOut& l : mounted.source.leftOut) say(l.path, l.reason);
    // The names were for the tree and the lines above; the files keep
    // their member's index, which is all a read needs.
    mounted.source.shown = {};
    mounted.source.leftOut = {};
    struct stat st {};
    if (stat(archive.c_str(), &st) != 0) {
        say(archive, std::strerror(errno));
        return statusFailed;
    }
    mounted.atime = st.st_atim;
    mounted.mtime = st.st_mtim;
    mounted.ctime = st.st_ctim;
    // Read-only for the kernel too, so every write, create, rename, chmod
    // or link fails with EROFS before it reaches this program.
    fuse_opt_add_arg(&a.args, "-oro,nosuid,nodev,default_permissions,subtype=dat");
    return serve(mounted, a);
}
