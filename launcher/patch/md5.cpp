#include "launcher/patch/md5.h"

#include <algorithm>
#include <cstring>

namespace kpatch {
namespace {

inline std::uint32_t rotl(std::uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }

}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476} {}

// The 64 steps written out (RFC 1321, 3.4): the compiler keeps everything in registers,
// which is what makes hashing run at disk speed.
#define KEST_MD5_STEP(f, a, b, c, d, x, t, s) \
    a += f(b, c, d) + (x) + (t);              \
    a = rotl(a, s) + b;
#define KEST_MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define KEST_MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define KEST_MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define KEST_MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

void Md5::block(const std::uint8_t* p) {
    std::uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = std::uint32_t(p[i * 4]) | std::uint32_t(p[i * 4 + 1]) << 8 | std::uint32_t(p[i * 4 + 2]) << 16 |
               std::uint32_t(p[i * 4 + 3]) << 24;
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];

    KEST_MD5_STEP(KEST_MD5_F, a, b, c, d, m[0], 0xd76aa478, 7)
    KEST_MD5_STEP(KEST_MD5_F, d, a, b, c, m[1], 0xe8c7b756, 12)
    KEST_MD5_STEP(KEST_MD5_F, c, d, a, b, m[2], 0x242070db, 17)
    KEST_MD5_STEP(KEST_MD5_F, b, c, d, a, m[3], 0xc1bdceee, 22)
    KEST_MD5_STEP(KEST_MD5_F, a, b, c, d, m[4], 0xf57c0faf, 7)
    KEST_MD5_STEP(KEST_MD5_F, d, a, b, c, m[5], 0x4787c62a, 12)
    KEST_MD5_STEP(KEST_MD5_F, c, d, a, b, m[6], 0xa8304613, 17)
    KEST_MD5_STEP(KEST_MD5_F, b, c, d, a, m[7], 0xfd469501, 22)
    KEST_MD5_STEP(KEST_MD5_F, a, b, c, d, m[8], 0x698098d8, 7)
    KEST_MD5_STEP(KEST_MD5_F, d, a, b, c, m[9], 0x8b44f7af, 12)
    KEST_MD5_STEP(KEST_MD5_F, c, d, a, b, m[10], 0xffff5bb1, 17)
    KEST_MD5_STEP(KEST_MD5_F, b, c, d, a, m[11], 0x895cd7be, 22)
    KEST_MD5_STEP(KEST_MD5_F, a, b, c, d, m[12], 0x6b901122, 7)
    KEST_MD5_STEP(KEST_MD5_F, d, a, b, c, m[13], 0xfd987193, 12)
    KEST_MD5_STEP(KEST_MD5_F, c, d, a, b, m[14], 0xa679438e, 17)
    KEST_MD5_STEP(KEST_MD5_F, b, c, d, a, m[15], 0x49b40821, 22)

    KEST_MD5_STEP(KEST_MD5_G, a, b, c, d, m[1], 0xf61e2562, 5)
    KEST_MD5_STEP(KEST_MD5_G, d, a, b, c, m[6], 0xc040b340, 9)
    KEST_MD5_STEP(KEST_MD5_G, c, d, a, b, m[11], 0x265e5a51, 14)
    KEST_MD5_STEP(KEST_MD5_G, b, c, d, a, m[0], 0xe9b6c7aa, 20)
    KEST_MD5_STEP(KEST_MD5_G, a, b, c, d, m[5], 0xd62f105d, 5)
    KEST_MD5_STEP(KEST_MD5_G, d, a, b, c, m[10], 0x02441453, 9)
    KEST_MD5_STEP(KEST_MD5_G, c, d, a, b, m[15], 0xd8a1e681, 14)
    KEST_MD5_STEP(KEST_MD5_G, b, c, d, a, m[4], 0xe7d3fbc8, 20)
    KEST_MD5_STEP(KEST_MD5_G, a, b, c, d, m[9], 0x21e1cde6, 5)
    KEST_MD5_STEP(KEST_MD5_G, d, a, b, c, m[14], 0xc33707d6, 9)
    KEST_MD5_STEP(KEST_MD5_G, c, d, a, b, m[3], 0xf4d50d87, 14)
    KEST_MD5_STEP(KEST_MD5_G, b, c, d, a, m[8], 0x455a14ed, 20)
    KEST_MD5_STEP(KEST_MD5_G, a, b, c, d, m[13], 0xa9e3e905, 5)
    KEST_MD5_STEP(KEST_MD5_G, d, a, b, c, m[2], 0xfcefa3f8, 9)
    KEST_MD5_STEP(KEST_MD5_G, c, d, a, b, m[7], 0x676f02d9, 14)
    KEST_MD5_STEP(KEST_MD5_G, b, c, d, a, m[12], 0x8d2a4c8a, 20)

    KEST_MD5_STEP(KEST_MD5_H, a, b, c, d, m[5], 0xfffa3942, 4)
    KEST_MD5_STEP(KEST_MD5_H, d, a, b, c, m[8], 0x8771f681, 11)
    KEST_MD5_STEP(KEST_MD5_H, c, d, a, b, m[11], 0x6d9d6122, 16)
    KEST_MD5_STEP(KEST_MD5_H, b, c, d, a, m[14], 0xfde5380c, 23)
    KEST_MD5_STEP(KEST_MD5_H, a, b, c, d, m[1], 0xa4beea44, 4)
    KEST_MD5_STEP(KEST_MD5_H, d, a, b, c, m[4], 0x4bdecfa9, 11)
    KEST_MD5_STEP(KEST_MD5_H, c, d, a, b, m[7], 0xf6bb4b60, 16)
    KEST_MD5_STEP(KEST_MD5_H, b, c, d, a, m[10], 0xbebfbc70, 23)
    KEST_MD5_STEP(KEST_MD5_H, a, b, c, d, m[13], 0x289b7ec6, 4)
    KEST_MD5_STEP(KEST_MD5_H, d, a, b, c, m[0], 0xeaa127fa, 11)
    KEST_MD5_STEP(KEST_MD5_H, c, d, a, b, m[3], 0xd4ef3085, 16)
    KEST_MD5_STEP(KEST_MD5_H, b, c, d, a, m[6], 0x04881d05, 23)
    KEST_MD5_STEP(KEST_MD5_H, a, b, c, d, m[9], 0xd9d4d039, 4)
    KEST_MD5_STEP(KEST_MD5_H, d, a, b, c, m[12], 0xe6db99e5, 11)
    KEST_MD5_STEP(KEST_MD5_H, c, d, a, b, m[15], 0x1fa27cf8, 16)
    KEST_MD5_STEP(KEST_MD5_H, b, c, d, a, m[2], 0xc4ac5665, 23)

    KEST_MD5_STEP(KEST_MD5_I, a, b, c, d, m[0], 0xf4292244, 6)
    KEST_MD5_STEP(KEST_MD5_I, d, a, b, c, m[7], 0x432aff97, 10)
    KEST_MD5_STEP(KEST_MD5_I, c, d, a, b, m[14], 0xab9423a7, 15)
    KEST_MD5_STEP(KEST_MD5_I, b, c, d, a, m[5], 0xfc93a039, 21)
    KEST_MD5_STEP(KEST_MD5_I, a, b, c, d, m[12], 0x655b59c3, 6)
    KEST_MD5_STEP(KEST_MD5_I, d, a, b, c, m[3], 0x8f0ccc92, 10)
    KEST_MD5_STEP(KEST_MD5_I, c, d, a, b, m[10], 0xffeff47d, 15)
    KEST_MD5_STEP(KEST_MD5_I, b, c, d, a, m[1], 0x85845dd1, 21)
    KEST_MD5_STEP(KEST_MD5_I, a, b, c, d, m[8], 0x6fa87e4f, 6)
    KEST_MD5_STEP(KEST_MD5_I, d, a, b, c, m[15], 0xfe2ce6e0, 10)
    KEST_MD5_STEP(KEST_MD5_I, c, d, a, b, m[6], 0xa3014314, 15)
    KEST_MD5_STEP(KEST_MD5_I, b, c, d, a, m[13], 0x4e0811a1, 21)
    KEST_MD5_STEP(KEST_MD5_I, a, b, c, d, m[4], 0xf7537e82, 6)
    KEST_MD5_STEP(KEST_MD5_I, d, a, b, c, m[11], 0xbd3af235, 10)
    KEST_MD5_STEP(KEST_MD5_I, c, d, a, b, m[2], 0x2ad7d2bb, 15)
    KEST_MD5_STEP(KEST_MD5_I, b, c, d, a, m[9], 0xeb86d391, 21)

    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

#undef KEST_MD5_STEP
#undef KEST_MD5_F
#undef KEST_MD5_G
#undef KEST_MD5_H
#undef KEST_MD5_I

void Md5::update(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    length_ += size;
    if (buffered_) {
        std::size_t take = std::min(size, sizeof buffer_ - buffered_);
        std::memcpy(buffer_ + buffered_, p, take);
        buffered_ += take;
        p += take;
        size -= take;
        if (buffered_ < sizeof buffer_) return;
        block(buffer_);
        buffered_ = 0;
    }
    for (; size >= 64; p += 64, size -= 64) block(p);
    std::memcpy(buffer_, p, size);
    buffered_ = size;
}

std::array<std::uint8_t, 16> Md5::finish() {
    std::uint64_t bits = length_ * 8;
    static const std::uint8_t kPad[64] = {0x80};
    std::size_t pad = buffered_ < 56 ? 56 - buffered_ : 120 - buffered_;
    update(kPad, pad);
    std::uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = static_cast<std::uint8_t>(bits >> (8 * i));
    update(len, 8);
    std::array<std::uint8_t, 16> out;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) out[i * 4 + j] = static_cast<std::uint8_t>(state_[i] >> (8 * j));
    return out;
}

std::string Md5::finish_hex() {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (std::uint8_t b : finish()) {
        out.push_back(kHex[b >> 4]);
        out.push_back(kHex[b & 15]);
    }
    return out;
}

std::string md5_hex(std::string_view data) {
    Md5 md5;
    md5.update(data.data(), data.size());
    return md5.finish_hex();
}

}  // namespace kpatch
