// kest-publish: the operator's tool for making what the launcher reads.
//
//   kest-publish keygen OUT_DIR
//   kest-publish index GAME_DIR [OUT_FILE]
//   kest-publish sign INDEX_FILE SECRET_KEY_FILE
//   kest-publish publish SECRET_KEY_FILE SERVER_DIR V1_GAME_DIR [V2_GAME_DIR [V2_BUILD_LABEL]]
//   kest-publish verify SERVER_DIR PUBLIC_KEY
#include "publish/publish.h"

#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

namespace fs = std::filesystem;

namespace {

int usage() {
    std::cerr << "usage:\n"
                 "  kest-publish keygen OUT_DIR\n"
                 "      new Ed25519 keypair: OUT_DIR/kest-ed25519.secret (keep it safe) and .pub\n"
                 "  kest-publish index GAME_DIR [OUT_FILE]\n"
                 "      the update index of a game folder (to OUT_FILE, or standard output)\n"
                 "  kest-publish sign INDEX_FILE SECRET_KEY_FILE\n"
                 "      writes INDEX_FILE.sig\n"
                 "  kest-publish publish SECRET_KEY_FILE SERVER_DIR V1_GAME_DIR [V2_GAME_DIR [V2_BUILD_LABEL]]\n"
                 "      lays out a complete patch server tree in SERVER_DIR\n"
                 "  kest-publish verify SERVER_DIR PUBLIC_KEY\n"
                 "      checks the signatures and every file of a published tree (key as hex or file)\n";
    return 2;
}

int fail(const std::string& message) {
    std::cerr << "kest-publish: " << message << "\n";
    return 1;
}

bool write_file(const fs::path& path, const std::string& text, mode_t mode) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return out && chmod(path.c_str(), mode) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    std::string cmd = argv[1];
    std::string error;

    if (cmd == "keygen" && argc == 3) {
        fs::path dir = argv[2];
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (fs::exists(dir / "kest-ed25519.secret")) return fail((dir / "kest-ed25519.secret").string() + " exists; not overwritten");
        kpublish::Keypair key = kpublish::generate_keypair();
        if (!write_file(dir / "kest-ed25519.secret", key.secret_hex + "\n", 0600) ||
            !write_file(dir / "kest-ed25519.pub", key.public_hex + "\n", 0644))
            return fail("cannot write the keys into " + dir.string());
        std::cout << "public key: " << key.public_hex << "\n"
                  << "release configuration line:\n  set(KEST_TRUSTED_PUBLIC_KEYS \"" << key.public_hex << "\")\n";
        return 0;
    }
    if (cmd == "index" && (argc == 3 || argc == 4)) {
        auto entries = kpublish::scan_game_folder(argv[2], &error);
        if (!entries) return fail(error);
        std::string text = kpublish::index_text(*entries);
        if (argc == 3) {
            std::cout << text;
            return 0;
        }
        return write_file(argv[3], text, 0644) ? 0 : fail(std::string("cannot write ") + argv[3]);
    }
    if (cmd == "sign" && argc == 4) {
        auto key = kpublish::read_secret_key(argv[3], &error);
        if (!key) return fail(error);
        std::ifstream in(argv[2], std::ios::binary);
        if (!in) return fail(std::string("cannot read ") + argv[2]);
        std::ostringstream index;
        index << in.rdbuf();
        std::string sig_path = std::string(argv[2]) + ".sig";
        return write_file(sig_path, kpublish::sign_index(index.str(), *key), 0644) ? 0 : fail("cannot write " + sig_path);
    }
    if (cmd == "publish" && argc >= 5 && argc <= 7) {
        auto key = kpublish::read_secret_key(argv[2], &error);
        if (!key) return fail(error);
        kpublish::PublishOptions options;
        options.out = argv[3];
        options.v1_dir = argv[4];
        if (argc >= 6) options.v2_dir = fs::path(argv[5]);
        if (argc == 7) options.v2_build = argv[6];
        if (!kpublish::publish_tree(options, *key, &error)) return fail(error);
        std::cout << "published " << options.out.string() << " (public key " << key->public_hex << ")\n";
        return 0;
    }
    if (cmd == "verify" && argc == 4) {
        auto pub = kpublish::read_public_key(argv[3], &error);
        if (!pub) return fail(error);
        std::vector<std::string> problems;
        bool ok = kpublish::verify_tree(argv[2], *pub, &problems);
        for (const auto& p : problems) std::cerr << "kest-publish: " << p << "\n";
        if (ok) std::cout << "ok: " << argv[2] << " verifies with " << *pub << "\n";
        return ok ? 0 : 1;
    }
    return usage();
}
