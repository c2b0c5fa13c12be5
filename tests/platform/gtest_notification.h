// GoogleTest's Notification for MinGW's win32 thread model, whose standard
// library has no std::mutex. Only GoogleTest's thread helpers use it; the
// platform tests run on one thread.
#pragma once

#include <atomic>
#include <thread>

namespace testing {
namespace internal {

class Notification {
public:
    Notification() = default;
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;
    void Notify() { notified_ = true; }
    void WaitForNotification() {
        while (!notified_) std::this_thread::yield();
    }

private:
    std::atomic<bool> notified_{false};
};

}  // namespace internal
}  // namespace testing
