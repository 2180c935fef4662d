#include "publish/publish.h"

#include "launcher/patch/md5.h"

#include <sodium.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace kpublish {
namespace {

bool init_sodium() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}

std::string to_hex(const unsigned char* p, size_t n) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out.push_back(kHex[p[i] >> 4]);
        out.push_back(kHex[p[i] & 15]);
    }
    return out;
}

bool from_hex(const std::string& hex, std::vector<unsigned char>& out, size_t bytes) {
    if (hex.size() != bytes * 2) return false;
    out.resize(bytes);
    size_t bin_len = 0;
    return sodium_hex2bin(out.data(), bytes, hex.data(), hex.size(), nullptr, &bin_len, nullptr) == 0 &&
           bin_len == bytes;
}

std::string trim(std::string s) {
    while (!s.empty() && isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t i = 0;
    while (i < s.size() && isspace(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(i);
}

bool read_whole(const fs::path& file, std::string& out) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    out = s.str();
    return true;
}

bool write_whole(const fs::path& file, const std::string& bytes, std::string* error) {
    std::error_code ec;
    if (file.has_parent_path()) fs::create_directories(file.parent_path(), ec);
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        if (error) *error = "cannot write " + file.string();
        return false;
    }
    return true;
}

bool valid_utf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = s[i];
        size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n;
    }
    return true;
}

bool copy_into(const fs::path& from, const fs::path& to, std::string* error) {
    std::error_code ec;
    fs::create_directories(to.parent_path(), ec);
    fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
    if (ec) {
        if (error) *error = "cannot copy " + from.string() + " to " + to.string() + ": " + ec.message();
        return false;
    }
    return true;
}

}  // namespace

bool is_never_published(const std::string& path) {
    std::string name = path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1);
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    auto ends_with = [&](const char* suffix) {
        std::string s = suffix;
        return lower.size() >= s.size() && lower.compare(lower.size() - s.size(), s.size(), s) == 0;
    };
    return lower == "launcher.hashcache" || lower == "settings.cfg" || lower == ".index.txt" || ends_with(".part") ||
           ends_with(".tmp") || lower == "launcher.hashcache.tmp";
}

bool is_publishable_name(const std::string& path, std::string* why) {
    auto refuse = [&](const std::string& reason) {
        if (why) *why = "\"" + path + "\": " + reason;
        return false;
    };
    if (path.empty() || path.front() == '/') return refuse("not a relative path");
    if (!valid_utf8(path)) return refuse("the name is not UTF-8");
    for (unsigned char c : path) {
        if (c < 0x20) return refuse("the name holds a control character");
        if (c == ':' || c == '\\' || c == '=' || c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|')
            return refuse(std::string("Windows cannot name a file with \"") + char(c) + "\" in it");
    }
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part == "..") return refuse("a \"..\" component");
        if (!part.empty() && (part.back() == '.' || part.back() == ' '))
            return refuse("Windows drops a trailing dot or space from a name");
    }
    return true;
}

Keypair generate_keypair() {
    init_sodium();
    unsigned char pk[crypto_sign_PUBLICKEYBYTES], sk[crypto_sign_SECRETKEYBYTES];
    crypto_sign_keypair(pk, sk);
    Keypair k{to_hex(pk, sizeof pk), to_hex(sk, sizeof sk)};
    sodium_memzero(sk, sizeof sk);
    return k;
}

std::optional<Keypair> read_secret_key(const fs::path& file, std::string* error) {
    std::string text;
    if (!read_whole(file, text)) {
        if (error) *error = "cannot read the secret key " + file.string();
        return std::nullopt;
    }
    std::vector<unsigned char> sk;
    if (!from_hex(trim(text), sk, crypto_sign_SECRETKEYBYTES)) {
        if (error) *error = file.string() + " is not a secret key (128 hex digits)";
        return std::nullopt;
    }
    // The public half is the last 32 bytes of libsodium's secret key.
    return Keypair{to_hex(sk.data() + 32, 32), trim(text)};
}

std::optional<std::string> read_public_key(const std::string& hex_or_file, std::string* error) {
    std::string text = hex_or_file;
    std::vector<unsigned char> pk;
    if (!from_hex(trim(text), pk, crypto_sign_PUBLICKEYBYTES)) {
        if (!read_whole(hex_or_file, text) || !from_hex(trim(text), pk, crypto_sign_PUBLICKEYBYTES)) {
            if (error) *error = "\"" + hex_or_file + "\" is neither a public key (64 hex digits) nor a file holding one";
            return std::nullopt;
        }
    }
    return to_hex(pk.data(), pk.size());
}

std::string file_md5(const fs::path& file, std::string* error) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        if (error) *error = "cannot read " + file.string();
        return {};
    }
    kpatch::Md5 md5;
    std::vector<char> block(1 << 20);
    while (in) {
        in.read(block.data(), static_cast<std::streamsize>(block.size()));
        md5.update(block.data(), static_cast<size_t>(in.gcount()));
    }
    if (in.bad()) {
        if (error) *error = "read error in " + file.string();
        return {};
    }
    return md5.finish_hex();
}

std::optional<std::vector<IndexEntry>> scan_game_folder(const fs::path& dir, std::string* error) {
    std::error_code ec;
    if (!fs::is_directory(dir, ec)) {
        if (error) *error = dir.string() + " is not a folder";
        return std::nullopt;
    }
    std::vector<IndexEntry> entries;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::string rel = fs::relative(it->path(), dir).generic_string();
        if (is_never_published(rel)) continue;
        if (!is_publishable_name(rel, error)) return std::nullopt;
        std::string md5 = file_md5(it->path(), error);
        if (md5.empty()) return std::nullopt;
        entries.push_back({rel, md5, static_cast<std::uint64_t>(it->file_size())});
    }
    if (ec) {
        if (error) *error = "cannot list " + dir.string() + ": " + ec.message();
        return std::nullopt;
    }
    // Windows sees "A" and "a" as one file: two such names would fight over one place.
    std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    for (size_t i = 1; i < entries.size(); ++i) {
        std::string a = entries[i - 1].path, b = entries[i].path;
        std::transform(a.begin(), a.end(), a.begin(), ::tolower);
        std::transform(b.begin(), b.end(), b.begin(), ::tolower);
        if (a == b) {
            if (error) *error = "\"" + entries[i - 1].path + "\" and \"" + entries[i].path + "\" name one file on Windows";
            return std::nullopt;
        }
    }
    return entries;
}

std::string index_text(const std::vector<IndexEntry>& entries) {
    std::string out;
    for (const auto& e : entries) out += e.path + "=" + e.md5 + "\t" + std::to_string(e.size) + "\n";
    return out;
}

std::string sign_index(const std::string& index, const Keypair& key) {
    init_sodium();
    std::vector<unsigned char> sk;
    from_hex(key.secret_hex, sk, crypto_sign_SECRETKEYBYTES);
    unsigned char sig[crypto_sign_BYTES];
    crypto_sign_detached(sig, nullptr, reinterpret_cast<const unsigned char*>(index.data()), index.size(), sk.data());
    sodium_memzero(sk.data(), sk.size());
    char b64[sodium_base64_ENCODED_LEN(crypto_sign_BYTES, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(b64, sizeof b64, sig, sizeof sig, sodium_base64_VARIANT_ORIGINAL);
    return std::string(b64) + "\n";
}

bool verify_signature(const std::string& index, const std::string& signature_text, const std::string& public_hex) {
    init_sodium();
    std::vector<unsigned char> pk;
    if (!from_hex(public_hex, pk, crypto_sign_PUBLICKEYBYTES)) return false;
    std::string text = signature_text;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    unsigned char sig[crypto_sign_BYTES];
    size_t len = 0;
    if (sodium_base642bin(sig, sizeof sig, text.data(), text.size(), nullptr, &len, nullptr,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        len != sizeof sig)
        return false;
    return crypto_sign_verify_detached(sig, reinterpret_cast<const unsigned char*>(index.data()), index.size(),
                                       pk.data()) == 0;
}

bool publish_tree(const PublishOptions& o, const Keypair& key, std::string* error) {
    struct Part {
        fs::path source;
        std::string index_path, get_prefix;
    };
    std::vector<Part> parts{{o.v1_dir, "index.txt", "get/"}};
    if (o.v2_dir) parts.push_back({*o.v2_dir, "unity/win/index.txt", "get/unity/win/"});
    if (o.v2_dir && !o.v2_build.empty()) {
        std::string why;
        bool ok = o.v2_build.size() <= 32 && std::all_of(o.v2_build.begin(), o.v2_build.end(), [](char c) {
                      return isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
                  });
        if (!ok) {
            if (error) *error = "the V2 build label must be 1 to 32 of A-Z a-z 0-9 . - _";
            return false;
        }
    }
    for (const Part& p : parts) {
        auto entries = scan_game_folder(p.source, error);
        if (!entries) return false;
        for (const auto& e : *entries)
            if (!copy_into(p.source / e.path, o.out / (p.get_prefix + e.path), error)) return false;
        // The index goes up last, with its signature just before it, so a server that is
        // being filled never offers an index whose files are not all there.
        std::string index = index_text(*entries);
        if (!write_whole(o.out / (p.index_path + ".sig"), sign_index(index, key), error)) return false;
        if (!write_whole(o.out / p.index_path, index, error)) return false;
    }
    if (o.v2_dir && !write_whole(o.out / "unity/win/build.txt", (o.v2_build.empty() ? "dev" : o.v2_build) + "\n", error))
        return false;
    return true;
}

bool verify_tree(const fs::path& tree, const std::string& public_hex, std::vector<std::string>* problems) {
    auto problem = [&](const std::string& p) {
        if (problems) problems->push_back(p);
    };
    bool any = false, ok = true;
    for (auto [index_path, get_prefix] : {std::pair{"index.txt", "get/"}, {"unity/win/index.txt", "get/unity/win/"}}) {
        std::string index, sig;
        if (!read_whole(tree / index_path, index)) continue;
        any = true;
        if (!read_whole(tree / (std::string(index_path) + ".sig"), sig)) {
            problem(std::string(index_path) + ": no signature");
            ok = false;
            continue;
        }
        if (!verify_signature(index, sig, public_hex)) {
            problem(std::string(index_path) + ": the signature does not verify with this key");
            ok = false;
            continue;
        }
        std::istringstream lines(index);
        std::string line;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            size_t eq = line.find('='), tab = line.find('\t', eq == std::string::npos ? 0 : eq);
            if (line.empty()) continue;
            if (eq == std::string::npos || tab == std::string::npos) {
                problem(std::string(index_path) + ": malformed line \"" + line + "\"");
                ok = false;
                continue;
            }
            std::string path = line.substr(0, eq), md5 = line.substr(eq + 1, tab - eq - 1);
            std::uint64_t size = std::stoull("0" + line.substr(tab + 1));
            fs::path file = tree / (std::string(get_prefix) + path);
            std::error_code ec;
            if (!fs::is_regular_file(file, ec)) {
                problem(file.string() + ": missing");
                ok = false;
            } else if (fs::file_size(file, ec) != size) {
                problem(file.string() + ": size differs from the index");
                ok = false;
            } else if (file_md5(file, nullptr) != md5) {
                problem(file.string() + ": MD5 differs from the index");
                ok = false;
            }
        }
    }
    if (!any) {
        problem(tree.string() + ": no index.txt");
        return false;
    }
    return ok;
}

}  // namespace kpublish
