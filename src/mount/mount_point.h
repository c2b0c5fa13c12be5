// What stands at the mount point before datmount mounts there: libfuse 3
// mounts over anything, so a second mount would hide the first and a
// directory's contents would vanish without a word.
#pragma once

#include <string>

enum class PointState {
    fit,       // an empty directory
    notEmpty,  // a directory holding something, hidden while mounted
    mounted,   // the root of a mount already
    failed,    // not there, not a directory, or not to be examined: see why
};

PointState examinePoint(const std::string& path, std::string& why);
