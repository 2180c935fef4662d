// The one pattern every settings.cfg writer follows: take the lock, re-read the file,
// change it, save it. A file that exists but cannot be read is never overwritten.
#pragma once

#include "common/settings_document.h"

#include <functional>
#include <string>

namespace kpatch {

// Under SettingsLock: load path; when it loaded or was not found, run edit on the
// document and save it if edit returns true. Returns whether a save happened and
// succeeded. Without the lock nothing is read or written.
bool edit_settings(const std::wstring& path, const std::function<bool(SettingsDocument&)>& edit);

}  // namespace kpatch
