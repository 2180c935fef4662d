// MD5 (RFC 1321), the hash of the game files in the update index. Portable C++: the
// publishing tool builds the same file natively.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kpatch {

class Md5 {
public:
    Md5();
    void update(const void* data, std::size_t size);
    std::array<std::uint8_t, 16> finish();
    std::string finish_hex();  // 32 lowercase hexadecimal characters

private:
    void block(const std::uint8_t* p);
    std::uint32_t state_[4];
    std::uint64_t length_ = 0;  // bytes so far
    std::uint8_t buffer_[64];
    std::size_t buffered_ = 0;
};

std::string md5_hex(std::string_view data);

}  // namespace kpatch
