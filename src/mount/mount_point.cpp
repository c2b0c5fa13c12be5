#include "mount/mount_point.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace {

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};

bool isMountRoot(const std::string& path, const struct statx& sx) {
    if ((sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0)
        return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
    // Kernels before 5.8 do not say: a mount's root lies on another device
    // than its parent, or is its own parent (/). A bind mount within one
    // file system goes unseen there.
    struct stat self {
    }, up{};
    if (stat(path.c_str(), &self) != 0 || stat((path + "/..").c_str(), &up) != 0) return false;
    return self.st_dev != up.st_dev || self.st_ino == up.st_ino;
}

}  // namespace

PointState examinePoint(const std::string& path, std::string& why) {
    struct statx sx {};
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_TYPE, &sx) != 0) {
        why = std::strerror(errno);
        return PointState::failed;
    }
    if (!S_ISDIR(sx.stx_mode)) {
        why = std::strerror(ENOTDIR);
        return PointState::failed;
    }
    if (isMountRoot(path, sx)) return PointState::mounted;
    // A directory this user may not list is left to the mount to judge.
    const std::unique_ptr<DIR, DirCloser> dir(opendir(path.c_str()));
    if (!dir) return PointState::fit;
    while (const dirent* e = readdir(dir.get()))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            return PointState::notEmpty;
    return PointState::fit;
}
