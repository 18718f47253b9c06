// ISequentialStream: the read/write half of a stream, the base of IStream.
//
// IStream itself (with seeking, sizes, Stat, ...) belongs to the structured
// storage layer, which derives it from this interface and answers
// IID_ISequentialStream. The runtime's own code that only reads or writes
// (the free-threaded marshaler) asks a stream for this interface, so it
// works with any stream implementation.
#pragma once

#include "platform/com/Unknown.h"

struct ISequentialStream : IUnknown {
    static constexpr IID iid = makeGuid("0C733A30-2A1C-11CE-ADE5-00AA0044773D");
    // Reads up to cb bytes; *pcbRead (if not null) gets the count read.
    virtual HRESULT Read(void* pv, ULONG cb, ULONG* pcbRead) = 0;
    // Writes cb bytes; *pcbWritten (if not null) gets the count written.
    virtual HRESULT Write(const void* pv, ULONG cb, ULONG* pcbWritten) = 0;
};

constexpr IID IID_ISequentialStream = ISequentialStream::iid;

struct IStream; // declared by the structured storage layer; derives from ISequentialStream
