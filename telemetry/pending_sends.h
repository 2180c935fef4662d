// The process-wide count of telemetry posts in flight, which both programs wait on at exit.
#pragma once

namespace kpatch {

// Any thread: a sender registers before its post starts and unregisters when it ends.
void begin_pending_send();
void end_pending_send();
int pending_send_count();

// Main thread, at exit: waits until no post is in flight or timeout_ms have passed.
void wait_for_pending_sends(int timeout_ms);

}  // namespace kpatch
