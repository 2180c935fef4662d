// A patch server tree in a temp folder, as the operator's tool lays it out: index.txt and
// its signature (made with the committed demo key) and the files under get/.
#pragma once

#include "launcher/patch/update_index.h"
#include "tests/support/temp_dir.h"

#include <map>
#include <string>

namespace kest_test {

// The Ed25519 signature (Base64 + LF) of bytes with the demo secret key.
std::string demo_signature(const std::string& bytes);

class PublishedTree {
public:
    // Writes the files under get/ and a signed index.txt listing them; with v2, under
    // get/unity/win/ with unity/win/index.txt.
    void publish(const std::map<std::wstring, std::string>& files, bool v2 = false);
    // Replaces the index and its signature only (a new release appears on the server).
    void publish_index(const std::string& index, bool v2 = false);
    // The "effects" list of a test-server rule that publishes index (and its signature) on
    // the server while the rule's request is answered: a release appearing mid-download.
    static std::string publish_effects(const std::string& index, bool v2 = false);
    // Any other file of the server (status.json, unity/win/build.txt, ...).
    void put(const std::wstring& relative, const std::string& bytes);
    const std::string& index() const { return index_; }  // the last index published
    std::vector<kpatch::PatchEntry> entries() const { return kpatch::parse_index(index_); }
    std::wstring path() const { return dir_.path(); }
    std::wstring file(const std::wstring& relative) const { return dir_ / relative; }

private:
    TempDir dir_;
    std::string index_;
};

}  // namespace kest_test
