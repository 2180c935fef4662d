// Move-only owners for Win32 handles. The traits spell out each kind's invalid value:
// kernel objects use nullptr, CreateFileW and FindFirstFileW use INVALID_HANDLE_VALUE.
#pragma once

#include <windows.h>

#include <utility>

namespace kpatch {

template <class Traits>
class unique_handle {
public:
    using type = typename Traits::type;

    unique_handle() = default;
    explicit unique_handle(type h) noexcept : h_(h) {}
    unique_handle(unique_handle&& o) noexcept : h_(o.release()) {}
    unique_handle& operator=(unique_handle&& o) noexcept {
        reset(o.release());
        return *this;
    }
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    ~unique_handle() { reset(); }

    type get() const noexcept { return h_; }
    explicit operator bool() const noexcept { return h_ != Traits::invalid(); }
    [[nodiscard]] type release() noexcept { return std::exchange(h_, Traits::invalid()); }
    void reset(type h = Traits::invalid()) noexcept {
        if (h_ != Traits::invalid()) Traits::close(h_);
        h_ = h;
    }
    type* put() noexcept {
        reset();
        return &h_;
    }

private:
    type h_ = Traits::invalid();
};

struct KernelHandleTraits {
    using type = HANDLE;
    static type invalid() noexcept { return nullptr; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};

struct FileHandleTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::CloseHandle(h); }
};

struct FindHandleTraits {
    using type = HANDLE;
    static type invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void close(type h) noexcept { ::FindClose(h); }
};

using unique_kernel_handle = unique_handle<KernelHandleTraits>;  // events, mutexes, threads, processes, mappings
using unique_file = unique_handle<FileHandleTraits>;
using unique_find = unique_handle<FindHandleTraits>;

}  // namespace kpatch
