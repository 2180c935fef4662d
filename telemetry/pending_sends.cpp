#include "telemetry/pending_sends.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kpatch {
namespace {

struct Pending {
    std::mutex mutex;
    std::condition_variable changed;
    int count = 0;
};

Pending& pending() {
    static Pending p;
    return p;
}

}  // namespace

void begin_pending_send() {
    std::lock_guard lock(pending().mutex);
    ++pending().count;
}

void end_pending_send() {
    {
        std::lock_guard lock(pending().mutex);
        --pending().count;
    }
    pending().changed.notify_all();
}

int pending_send_count() {
    std::lock_guard lock(pending().mutex);
    return pending().count;
}

void wait_for_pending_sends(int timeout_ms) {
    Pending& p = pending();
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    std::unique_lock lock(p.mutex);
    p.changed.wait_until(lock, deadline, [&] { return p.count == 0; });
}

}  // namespace kpatch
