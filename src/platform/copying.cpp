#include "platform/copying.h"

#include <algorithm>
#include <vector>

namespace dat::detail {

uint64_t copyThrough(const File& from, uint64_t at, File& to, uint64_t n, bool& toFailed) {
    std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(n, uint64_t(1) << 18)));
    toFailed = false;
    uint64_t done = 0;
    while (done < n) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(n - done, buffer.size()));
        const size_t got = fileReadAt(from, at + done, buffer.data(), want);
        const size_t put = got > 0 ? fileWrite(to, buffer.data(), got) : 0;
        done += put;
        toFailed = put < got;
        if (put < want) break;
    }
    return done;
}

}  // namespace dat::detail
