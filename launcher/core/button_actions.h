// What each window button does (runs on the UI thread; starts a worker, stores a setting
// or opens a link, and never blocks).
#pragma once

#include "launcher/core/process_state.h"

#include <functional>
#include <optional>
#include <string>

namespace kpatch {

struct ButtonAction {
    bool start_worker = false;
    bool repair = false, play = false, use_v2 = false;
    std::optional<std::wstring> link;       // path below the home page to open; "" is the home page
    std::optional<bool> store_client_v2;    // client choice to store before anything else
};

// The table of the buttons; values without a button give an action that does nothing.
ButtonAction button_action(UiButton button);

// The handler given to the window: applies button_action to the process's worker record,
// opening links below home_page with the shell verb "open".
std::function<void(UiButton)> make_button_handler(ProcessState& state, std::wstring home_page);

}  // namespace kpatch
