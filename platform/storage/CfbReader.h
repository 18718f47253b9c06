// Parses a compound-file image (MS-CFB version 3 or 4) into a CfbNode tree.
//
// Nothing in the image is trusted: every sector number is checked against
// the image, every chain is followed at most as far as the sectors it may
// use (a sector claimed twice, which is how a loop shows, is refused), every
// size is checked against its chain before memory is sized by it, and the
// directory tree is walked with a visited set (a cycle or an entry reached
// twice is refused) and an explicit stack (no recursion on file data).
#pragma once

#include "platform/storage/CfbNode.h"

#include <cstddef>
#include <memory>

namespace zeb {

class CfbReader {
public:
    // Builds the tree of the image. S_OK, or STG_E_INVALIDHEADER (not a
    // compound file, or an unsupported header), STG_E_DOCFILECORRUPT
    // (inconsistent structure) or STG_E_INSUFFICIENTMEMORY.
    static HRESULT read(const BYTE* image, size_t size, std::shared_ptr<CfbNode>& root) noexcept;
    // The same, but large streams stored in one run of sectors keep
    // pointing into the image (shared with the tree) instead of being copied.
    static HRESULT read(std::shared_ptr<const BYTE[]> image, size_t size,
                        std::shared_ptr<CfbNode>& root) noexcept;

    // True when the image starts with the compound-file signature.
    static bool hasSignature(const BYTE* image, size_t size) noexcept;

private:
    static HRESULT parse(const BYTE* image, size_t size, std::shared_ptr<const BYTE[]> owner,
                         std::shared_ptr<CfbNode>& root) noexcept;
};

} // namespace zeb
