// The graphics quality level in settings.cfg ([graphics] quality), shared with the game.
#pragma once

#include <string>

namespace kpatch {

// The stored level, unclamped; 2 when the file, the key or its digits are missing.
int read_graphics_quality(const std::wstring& settings_path);

// Stores the level and [meta] version=1 under the settings lock; after a successful save,
// signals the event "KestOnline.Config.Changed.v1" for a running game. Returns whether saved.
bool write_graphics_quality(const std::wstring& settings_path, int level);

inline constexpr wchar_t kSettingsChangedEventName[] = L"KestOnline.Config.Changed.v1";

}  // namespace kpatch
