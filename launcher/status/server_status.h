// The server status record read from status.json.
// For now it carries nothing: the status document's reader fills it in.
#pragma once

namespace kpatch {

struct ServerStatus {};

}  // namespace kpatch
