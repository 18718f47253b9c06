// The seek rule every IStream of ours follows (compound-file streams,
// memory streams on a global block, the memory streams of the sectioned
// storage), so that a caller sees one behaviour whichever stream it holds.
//
//   STREAM_SEEK_SET  moves from 0
//   STREAM_SEEK_CUR  moves from the current position
//   STREAM_SEEK_END  moves from the stream's size
//
// The result may lie beyond the end (a read there gives 0 bytes, a write
// extends the stream), up to and including the stream's maxPosition, the
// largest size that stream can ever reach: past it no byte can be read or
// written, so such a position is refused rather than kept. Another origin,
// a result below 0 or above maxPosition gives STG_E_INVALIDFUNCTION, and
// the caller keeps its position. The arithmetic is done so that no move,
// however large (INT64_MIN, INT64_MAX), can overflow.
//
// Example, in a stream's Seek under its lock:
//
//   uint64_t to = 0;
//   HRESULT hr = computeSeekPosition(m_position, size, move.QuadPart, origin, kMaxSize, &to);
//   if (FAILED(hr)) return hr;
//   m_position = to;
#pragma once

#include "platform/storage/Storage.h"

#include <cstdint>

namespace zeb {

// S_OK and *newPosition set, or STG_E_INVALIDFUNCTION and *newPosition
// untouched. REQUIRES: newPosition not null.
constexpr HRESULT computeSeekPosition(uint64_t current, uint64_t size, int64_t move, DWORD origin,
                                      uint64_t maxPosition, uint64_t* newPosition) noexcept {
    uint64_t base = 0;
    switch (origin) {
    case STREAM_SEEK_SET:
        base = 0;
        break;
    case STREAM_SEEK_CUR:
        base = current;
        break;
    case STREAM_SEEK_END:
        base = size;
        break;
    default:
        return STG_E_INVALIDFUNCTION;
    }
    uint64_t target = 0;
    if (move >= 0) {
        const uint64_t forward = static_cast<uint64_t>(move);
        if (base > maxPosition || forward > maxPosition - base) return STG_E_INVALIDFUNCTION;
        target = base + forward;
    } else {
        // -(move + 1) + 1 is the distance back, also for INT64_MIN.
        const uint64_t back = static_cast<uint64_t>(-(move + 1)) + 1;
        if (back > base) return STG_E_INVALIDFUNCTION;
        target = base - back;
        if (target > maxPosition) return STG_E_INVALIDFUNCTION;
    }
    *newPosition = target;
    return S_OK;
}

} // namespace zeb
