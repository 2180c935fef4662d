#include "common/graphics_quality.h"

#include "common/settings_edit.h"
#include "common/unique_handle.h"

#include <string>

namespace kpatch {

int read_graphics_quality(const std::wstring& settings_path) {
    SettingsDocument doc;
    if (!doc.load(settings_path)) return 2;
    auto value = doc.value("graphics", "quality");
    if (!value) return 2;
    auto level = parse_settings_int(*value);
    return level ? static_cast<int>(*level) : 2;
}

bool write_graphics_quality(const std::wstring& settings_path, int level) {
    bool saved = edit_settings(settings_path, [&](SettingsDocument& doc) {
        doc.set("graphics", "quality", std::to_string(level));
        doc.set("meta", "version", "1");
        return true;
    });
    if (saved) {
        unique_kernel_handle event(CreateEventW(nullptr, TRUE, FALSE, kSettingsChangedEventName));
        if (event) SetEvent(event.get());
    }
    return saved;
}

}  // namespace kpatch
