// Lays out a CfbNode tree as a compound-file image: MS-CFB version 3,
// 512-byte sectors, 64-byte mini sectors below 4096 bytes.
//
// Sectors are laid out as: FAT, DIFAT, directory, mini FAT, mini stream,
// then each large stream, each chain contiguous. Each storage's children
// form a balanced binary tree in directory order, coloured as a valid
// red-black tree (every level black except an incomplete bottom level, which
// is red), so readers that check the colouring accept it.
#pragma once

#include "platform/storage/CfbNode.h"

#include <vector>

namespace zeb {

class CfbWriter {
public:
    // The image of the tree under root. S_OK, STG_E_INSUFFICIENTMEMORY, or
    // STG_E_DOCFILETOOLARGE when it does not fit the format's sector numbers.
    static HRESULT write(const CfbNode& root, std::vector<BYTE>& image) noexcept;
};

} // namespace zeb
