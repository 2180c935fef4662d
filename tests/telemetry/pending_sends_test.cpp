#include "telemetry/pending_sends.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <thread>

namespace {

TEST(PendingSends, ExitWaitEndsWhenTheLastSendEndsOrAtTheDeadline) {
    kpatch::wait_for_pending_sends(1500);  // nothing in flight: returns at once
    ASSERT_EQ(kpatch::pending_send_count(), 0);

    kpatch::begin_pending_send();
    kpatch::begin_pending_send();
    std::thread sender([] {
        Sleep(100);
        kpatch::end_pending_send();
        Sleep(100);
        kpatch::end_pending_send();
    });
    kpatch::wait_for_pending_sends(20000);
    EXPECT_EQ(kpatch::pending_send_count(), 0);
    sender.join();

    kpatch::begin_pending_send();  // never ends: the wait gives up
    DWORD start = GetTickCount();
    kpatch::wait_for_pending_sends(300);
    EXPECT_GE(GetTickCount() - start, 280u);
    kpatch::end_pending_send();
}

}  // namespace
