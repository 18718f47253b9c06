// FsSecClMem: a section stream over a new memory stream, and the factory of
// memory streams.
//
// Where a memory stream keeps its bytes is decided once per process from
// "STORAGE_MODE" (CCoRegistrySwitches::storageModeForStreams): the block
// store of FsStream by default, else a global-memory stream freed on
// release. When an FsStream cannot be made the process falls back to global
// memory for good ("error creating StreamObject").
#pragma once

#include "base/fs/FsSecCl.h"
#include "platform/com/ComPtr.h"

class FsSecClMem : public FsSecCl {
public:
    // Over a new memory stream (state 18 on every access when none could be made).
    FsSecClMem();
    ~FsSecClMem() override;

    // A new memory stream with one reference in *out; E_POINTER for null out.
    static HRESULT CreateStream(IStream** out);
    // CreateStream, tracing "error calling CreateStream" on failure; the
    // stream with one reference, or null.
    static IStream* createMemoryStream();

private:
    explicit FsSecClMem(ComPtr<IStream> stream);
};
