#include "launcher/core/client_choice.h"

#include "common/settings_edit.h"

namespace kpatch {
namespace {
const std::wstring kSettingsFile = L"settings.cfg";
}

bool read_client_choice() {
    SettingsDocument doc;
    if (!doc.load(kSettingsFile)) return false;
    return doc.value("launcher", "client") == std::optional<std::string>("unity");
}

void write_client_choice(bool use_v2) {
    if (read_client_choice() == use_v2) return;
    edit_settings(kSettingsFile, [use_v2](SettingsDocument& doc) {
        doc.set("launcher", "client", use_v2 ? "unity" : "legacy");
        return true;
    });
}

}  // namespace kpatch
