// The operator's side of the update index: keys, the index of a game folder, its detached
// Ed25519 signature, the patch server's tree, and checking a published tree.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kpublish {

struct Keypair {
    std::string public_hex;  // 64 hex digits: the form the release configuration takes
    std::string secret_hex;  // 128 hex digits (libsodium's secret key)
};

struct IndexEntry {
    std::string path;  // "/"-separated, relative, UTF-8
    std::string md5;   // lowercase hex
    std::uint64_t size = 0;
};

// Files that belong to a player's installation and never to a release.
bool is_never_published(const std::string& relative_path);
// The launcher's own rule for a path it will accept, plus what Windows cannot name.
bool is_publishable_name(const std::string& relative_path, std::string* why);

Keypair generate_keypair();
std::optional<Keypair> read_secret_key(const std::filesystem::path& file, std::string* error);
std::optional<std::string> read_public_key(const std::string& hex_or_file, std::string* error);

// Every file below dir in byte order of the path; an unpublishable name fails the whole index.
std::optional<std::vector<IndexEntry>> scan_game_folder(const std::filesystem::path& dir, std::string* error);
std::string index_text(const std::vector<IndexEntry>& entries);  // "path=md5<TAB>size\n" lines
std::string sign_index(const std::string& index, const Keypair& key);  // Base64 + "\n"
bool verify_signature(const std::string& index, const std::string& signature_text, const std::string& public_hex);

struct PublishOptions {
    std::filesystem::path v1_dir;
    std::optional<std::filesystem::path> v2_dir;
    std::string v2_build;  // the V2 build label written to unity/win/build.txt
    std::filesystem::path out;
};
// Lays out index.txt(.sig) and get/ for V1, and unity/win/ and get/unity/win/ for V2.
bool publish_tree(const PublishOptions& options, const Keypair& key, std::string* error);
// Checks the signatures and every file's size and MD5 of a published tree.
bool verify_tree(const std::filesystem::path& tree, const std::string& public_hex, std::vector<std::string>* problems);

std::string file_md5(const std::filesystem::path& file, std::string* error);

}  // namespace kpublish
