// Global memory handles: the movable heap blocks that memory lock-bytes and
// memory streams grow in (CreateILockBytesOnHGlobal, CreateStreamOnHGlobal).
//
//   HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, 100);
//   auto* p = static_cast<BYTE*>(GlobalLock(h));   // stable until GlobalUnlock
//   ...
//   GlobalUnlock(h);
//   h = GlobalReAlloc(h, 200, GMEM_MOVEABLE);       // may move the bytes
//   GlobalFree(h);                                  // null on success
//
// A handle is an opaque pointer to a block header; a null handle or one that
// was freed must not be passed in (as on Windows, that is the caller's bug).
// Each call is thread-safe for distinct handles; one handle is used by one
// thread at a time (the stream or lock-bytes object that owns it serialises).
#pragma once

#include "platform/win/WinTypes.h"

using HGLOBAL = void*;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GPTR = GMEM_FIXED | GMEM_ZEROINIT;

// A block of `bytes` bytes (zeroed with GMEM_ZEROINIT); null when out of memory.
HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes);
// Resizes the block (new bytes zeroed with GMEM_ZEROINIT; the old bytes kept);
// returns the handle (the same one), or null when out of memory (the block is
// then unchanged).
HGLOBAL GlobalReAlloc(HGLOBAL h, SIZE_T bytes, UINT flags);
// The block's bytes; every GlobalLock is matched by a GlobalUnlock.
LPVOID GlobalLock(HGLOBAL h);
// TRUE while the block is still locked by others, FALSE when the count reaches 0.
BOOL GlobalUnlock(HGLOBAL h);
// The block's size in bytes (0 for a null handle).
SIZE_T GlobalSize(HGLOBAL h);
// Frees the block; returns null.
HGLOBAL GlobalFree(HGLOBAL h);
