#include "launcher/core/button_actions.h"

#include "launcher/core/client_choice.h"
#include "launcher/core/worker_control.h"

#include <shellapi.h>

namespace kpatch {

ButtonAction button_action(UiButton button) {
    ButtonAction a;
    switch (button) {
        case Play: a.start_worker = true; a.play = true; break;
        case Discord: a.link = L"/g/discord"; break;
        case Facebook: a.link = L"/g/facebook"; break;
        case Website: a.link = L""; break;
        case Repair: a.start_worker = true; a.repair = true; break;
        case PlayV2: a.start_worker = true; a.play = true; a.use_v2 = true; break;
        case ChooseV1: a.store_client_v2 = false; break;
        case ChooseV2: a.store_client_v2 = true; a.start_worker = true; a.use_v2 = true; break;
        default: break;
    }
    return a;
}

std::function<void(UiButton)> make_button_handler(ProcessState& state, std::wstring home_page) {
    return [&state, home_page = std::move(home_page)](UiButton button) {
        ButtonAction a = button_action(button);
        if (a.store_client_v2) write_client_choice(*a.store_client_v2);
        if (a.link) ShellExecuteW(nullptr, L"open", (home_page + *a.link).c_str(), nullptr, nullptr, SW_SHOW);
        if (a.start_worker) start_patch_worker(state, a.repair, a.play, a.use_v2);
    };
}

}  // namespace kpatch
