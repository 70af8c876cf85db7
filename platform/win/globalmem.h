// Global memory blocks, the currency of the clipboard and of drag and drop:
// a handle to a block of bytes that knows its size. Sizes are 64-bit, so a
// block of several gigabytes is asked for as it is and refused when the
// memory is not there, never wrapped to a small one.
#pragma once

#include "win/wintypes.h"

#include <cstddef>

using HGLOBAL = void*;
using SIZE_T = std::size_t;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GMEM_DDESHARE = 0x2000;
constexpr UINT GMEM_SHARE = GMEM_DDESHARE;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

// A new block; null (last error ERROR_NOT_ENOUGH_MEMORY) when the memory
// cannot be had. A zero-filled block costs nothing until it is written.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// The block resized, its bytes kept up to the smaller size (with
// GMEM_ZEROINIT the bytes added are zero); it may move, so the old handle
// is no longer valid. Null (last error ERROR_NOT_ENOUGH_MEMORY) and the
// block as it was when the memory cannot be had.
HGLOBAL GlobalReAlloc(HGLOBAL mem, SIZE_T bytes, UINT flags);
// The block's bytes; null for a null handle.
void* GlobalLock(HGLOBAL mem);
// Always TRUE for a block of ours: nothing moves while it is unlocked.
BOOL GlobalUnlock(HGLOBAL mem);
// The size it was allocated with; 0 for a null handle.
SIZE_T GlobalSize(HGLOBAL mem);
// Frees the block; null on success, as the system answers.
HGLOBAL GlobalFree(HGLOBAL mem);
