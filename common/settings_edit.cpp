#include "common/settings_edit.h"

#include "common/settings_lock.h"

namespace kpatch {

bool edit_settings(const std::wstring& path, const std::function<bool(SettingsDocument&)>& edit) {
    SettingsLock lock;
    if (!lock.owned()) return false;
    SettingsDocument doc;
    SettingsLoadError error;
    if (!doc.load(path, &error) && error.kind != SettingsLoadError::NotFound) return false;
    if (!edit(doc)) return false;
    return doc.save(path);
}

}  // namespace kpatch
