// The process heap.
#pragma once

#include "platform/kernel/wintypes.h"

inline constexpr DWORD HEAP_ZERO_MEMORY = 0x08;

HANDLE GetProcessHeap();
// nullptr (ERROR_NOT_ENOUGH_MEMORY) on failure.
LPVOID HeapAlloc(HANDLE hHeap, DWORD dwFlags, SIZE_T dwBytes);
// HeapReAlloc may move the block, keeping contents; nullptr on failure, the old block still valid.
LPVOID HeapReAlloc(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem, SIZE_T dwBytes);
// Freeing nullptr is harmless.
BOOL HeapFree(HANDLE hHeap, DWORD dwFlags, LPVOID lpMem);
// The size last asked for the block; (SIZE_T)-1 for nullptr. The program never asks; it stays so
// that tests can see how far the walk's stack grew.
SIZE_T HeapSize(HANDLE hHeap, DWORD dwFlags, const void* lpMem);
