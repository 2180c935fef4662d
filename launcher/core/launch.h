// Starting the game client with its launch token, and what Play checks first.
#pragma once

#include "launcher/core/process_state.h"
#include "launcher/patch/target.h"

#include <cstdint>
#include <string>

namespace kpatch {

inline constexpr wchar_t kLaunchTokenVariable[] = L"KEST_LAUNCH_TOKEN";

// "<unix seconds>.<HMAC-SHA256 of those digits, lowercase hex>" with the compiled-in key;
// the MAC part is empty when CNG fails.
std::wstring make_launch_token();
std::wstring make_launch_token(std::int64_t unix_seconds);
std::string hmac_sha256_hex(const std::uint8_t* key, std::size_t key_size, const std::string& data);

// Sets the token in our environment and starts the executable (by name from our folder
// when folder is empty, else by path with folder as its working folder). Does not wait.
bool launch_game(const std::wstring& executable, const std::wstring& folder);

// Whether the published index of target is byte for byte the one a complete pass of this
// process applied (signature verified as in a pass).
bool is_index_current(ProcessState& state, IPatcherUI* ui, const Target& target);

// Reads unity/win/build.txt and tells the window whether V2 is published and its label.
void probe_v2_build(IPatcherUI* ui);

}  // namespace kpatch
