#include "platform/kernel/heap.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/kernel/errors.h"
#include "platform/kernel/host/host_ops.h"

namespace wce::kernel {
namespace {

// Each block carries the size last asked for, ahead of the caller's bytes, keeping their alignment.
constexpr size_t kHeader = std::max(alignof(std::max_align_t), sizeof(size_t));

HANDLE const kProcessHeap = reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(0x4EA9));

char* BaseOf(const void* mem) {
    return const_cast<char*>(static_cast<const char*>(mem)) - kHeader;
}
size_t& SizeOf(char* base) {
    return *reinterpret_cast<size_t*>(base);
}

LPVOID Place(char* base, size_t oldSize, size_t newSize, DWORD flags) {
    SizeOf(base) = newSize;
    if ((flags & HEAP_ZERO_MEMORY) && newSize > oldSize)
        std::memset(base + kHeader + oldSize, 0, newSize - oldSize);
    return base + kHeader;
}

}  // namespace
}  // namespace wce::kernel

using namespace wce::kernel;

HANDLE GetProcessHeap() {
    return kProcessHeap;
}

LPVOID HeapAlloc(HANDLE /*hHeap*/, DWORD dwFlags, SIZE_T dwBytes) {
    if (dwBytes > SIZE_MAX - kHeader) return FailWith(nullptr, ERROR_NOT_ENOUGH_MEMORY);
    auto* base = static_cast<char*>(host::Live().realloc(nullptr, dwBytes + kHeader));
    if (base == nullptr) return FailWith(nullptr, ERROR_NOT_ENOUGH_MEMORY);
    return Place(base, 0, dwBytes, dwFlags);
}

LPVOID HeapReAlloc(HANDLE /*hHeap*/, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes) {
    if (lpMem == nullptr) return FailWith(nullptr, ERROR_INVALID_PARAMETER);
    if (dwBytes > SIZE_MAX - kHeader) return FailWith(nullptr, ERROR_NOT_ENOUGH_MEMORY);
    size_t oldSize = SizeOf(BaseOf(lpMem));
    auto* base = static_cast<char*>(host::Live().realloc(BaseOf(lpMem), dwBytes + kHeader));
    if (base == nullptr) return FailWith(nullptr, ERROR_NOT_ENOUGH_MEMORY);
    return Place(base, oldSize, dwBytes, dwFlags);
}

BOOL HeapFree(HANDLE /*hHeap*/, DWORD /*dwFlags*/, LPVOID lpMem) {
    if (lpMem != nullptr) std::free(BaseOf(lpMem));
    return TRUE;
}

SIZE_T HeapSize(HANDLE /*hHeap*/, DWORD /*dwFlags*/, const void* lpMem) {
    if (lpMem == nullptr) return FailWith(static_cast<SIZE_T>(-1), ERROR_INVALID_PARAMETER);
    return SizeOf(BaseOf(lpMem));
}
