// Feeds a hostile exchange storage to the installation's importTypeData.
// The input is either a whole compound file (it starts with the compound
// file signature D0 CF 11 E0) or, otherwise, the two sections of an exchange
// storage: a 4-byte little-endian length n, then n bytes of "typecont" and
// the rest as "xmltree". The import must never crash, hang or leave the
// installation unusable: its result is one of the import's codes, and the
// document it leaves can be written out and read back.
//
// The installation is opened read-only over an empty configuration
// directory that holds the default stylesheets: nothing is ever written.
#include "base/fs/FsFileMan.h"
#include "base/fs/FsSecCl.h"
#include "is/CZEBIntInstallation.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/storage/Storage.h"
#include "platform/win/GlobalMemory.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const std::string& configDir() {
    static const std::string dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zeb-fuzz-exchange-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        if (!zeb::classification::installDefaultStylesheets(pattern)) std::abort();
        return pattern;
    }();
    return dir;
}

// The input as an exchange storage; null when it cannot be made one.
ComPtr<IStorage> storageOf(const uint8_t* data, size_t size) {
    ComPtr<IStorage> storage;
    if (size >= 4 && std::memcmp(data, "\xD0\xCF\x11\xE0", 4) == 0) {
        HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
        if (!block) return storage;
        std::memcpy(GlobalLock(block), data, size);
        GlobalUnlock(block);
        ComPtr<ILockBytes> bytes;
        if (FAILED(CreateILockBytesOnHGlobal(block, TRUE, &bytes))) {
            GlobalFree(block);
            return storage;
        }
        StgOpenStorageOnILockBytes(bytes.get(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, nullptr,
                                   0, &storage);
        return storage;
    }
    uint32_t first = 0;
    if (size >= 4) std::memcpy(&first, data, 4);
    const std::string_view rest(reinterpret_cast<const char*>(data) + (size >= 4 ? 4 : size),
                                size >= 4 ? size - 4 : 0);
    const size_t split = std::min<size_t>(first, rest.size());
    if (!FsFileMan::createMemStorage(&storage)) std::abort();
    FsSectMan sections(storage.get());
    for (auto [name, part] :
         {std::pair{"typecont", rest.substr(0, split)}, std::pair{"xmltree", rest.substr(split)}}) {
        FsSecCl* section = sections.GetSect(name, 5);
        if (!section) std::abort();
        section->write(part.data(), DWORD(part.size()));
        sections.CloseSect(section);
    }
    return storage;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ComPtr<IStorage> storage = storageOf(data, size);
    if (!storage) return 0;
    ComPtr<CZEBIntInstallation> inst;
    if (FAILED(CZEBIntInstallation::createObject(&inst, configDir(),
                                                 CZEBIntInstallation::OpenMode::ReadOnly)))
        std::abort();
    DWORD ret = 0;
    if (inst->importTypeData(storage.get(), &ret) != S_OK) std::abort();
    // The section readers' and the description import's codes.
    if (ret != 0 && ret != 27 && ret != 29 && ret != 0xFFFF && ret != 65535) std::abort();
    // Whatever was imported, the document can be written and read again
    // (an empty document's text is its declaration alone, nothing to read).
    BSTR text = nullptr;
    if (inst->classification().document().documentElement() &&
        inst->classification().getXMLText(&text) && text) {
        CIsXmlClassification again;
        if (!again.setXMLText(text)) std::abort();
    }
    SysFreeString(text);
    // And the installation still answers.
    BOOL is = FALSE;
    if (inst->isType(CIsTypeCont::kInternalTypeId, &is) != S_OK) std::abort();
    return 0;
}
