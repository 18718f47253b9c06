// CZEBIntInstallation: the exchange of a type's data between installations.
//
// The exchange storage is a compound storage in memory with two sections:
// "typecont", the install entries of the exported types as the type
// container writes a list of entries, and "xmltree", their descriptions as
// one Export document. The exported types are the requested one and every
// type its type object names as a dependency.
#include "is/CZEBIntInstallation.h"

#include "base/fs/FsFileMan.h"
#include "base/fs/FsSecCl.h"
#include "co/CCoGuardedCall.h"
#include "h/IMC_TypeObject.h"
#include "h/ResultCodes.h"
#include "platform/com/TaskAllocator.h"

#include <algorithm>
#include <vector>

namespace {

constexpr const char* kFile = "is_inst";
constexpr DWORD kFailure = 0xFFFF;
constexpr DWORD kNoSections = 29;
// A type object without a dependency list says so with this result word.
constexpr DWORD kNoDependencyList = 9;
constexpr DWORD kCreateForWriting = 5;

HRESULT nullArg(CCoTraceRecord& rec) {
    ZEB_TRACE(rec, 4, "error: NULL pointer argument");
    return E_POINTER;
}

void addOnce(std::vector<GUID>& set, const GUID& id) {
    if (std::find(set.begin(), set.end(), id) == set.end()) set.push_back(id);
}

} // namespace

HRESULT CZEBIntInstallation::exportTypeData(GUID typeId, IStorage** ppStorage, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::exportTypeData");
    return serialised(rec, [&]() -> HRESULT {
        if (!ppStorage || !pRet) return nullArg(rec);
        *ppStorage = nullptr;
        *pRet = 0;
        // Every step runs even after one failed, as callers expect, but the
        // result is the first failure: a later step that succeeds must not
        // report the whole export as good.
        auto fail = [&](DWORD code) {
            if (*pRet == 0) *pRet = code;
        };
        FsFileMan memory;
        if (memory.OpenFile(nullptr, FsFileMan::kFileCreate | FsFileMan::kFileInMemory) != 0) {
            ZEB_TRACE(rec, 4, "Error creating Mem-File");
            *pRet = kFailure;
            return S_OK;
        }
        FsSecCl* typecont = memory.GetSect("typecont", kCreateForWriting);
        FsSecCl* xmltree = memory.GetSect("xmltree", kCreateForWriting);
        if (!typecont || !xmltree) {
            ZEB_TRACE(rec, 4, "Error creating sections...");
            *pRet = kFailure;
            return S_OK;
        }

        std::vector<GUID> exported;
        ComPtr<IUnknown> spIUnk;
        const DWORD created = m_typeCont.createNativeTypeObject(typeId, &spIUnk);
        if (created != IS_OK) {
            ZEB_TRACE(rec, 4, "failed to call createNativeTypeObject");
            fail(translateRet(created));
        } else if (ComQIPtr<IMC_InternalType> spIIntType(spIUnk); spIIntType) {
            DWORD count = 0, ret = 0;
            GUID* ids = nullptr;
            const HRESULT hr = guardedCallRet(
                rec,
                "spIIntType->getDependedTypes(&saTypeIds.changeSize(), &saTypeIds.changePtr(), "
                "pRet)",
                ret, [&] { return spIIntType->getDependedTypes(&count, &ids, &ret); });
            if (hr == E_NOTIMPL || ret == kNoDependencyList) {
                // The type has no dependency list: it goes alone.
            } else {
                if (FAILED(hr) || ret != 0) fail(ret != 0 ? ret : kFailure);
                for (DWORD i = 0; ids && i < count; ++i)
                    addOnce(exported, ids[i]);
            }
            CoTaskMemFree(ids);
        }
        spIUnk.Release();
        addOnce(exported, typeId);

        if (typecont->setSize(0) != 0 || xmltree->setSize(0) != 0) {
            fail(kFailure);
            return S_OK;
        }
        if (const DWORD r = m_typeCont.exportTypeData(exported, *typecont)) {
            ZEB_TRACE(rec, 4, "error exporting type data");
            fail(r);
        }
        if (const DWORD r = exportXmlTreeInfo(exported, *xmltree)) {
            ZEB_TRACE(rec, 4, "error exporting xml data");
            fail(r);
        }
        IStorage* storage = memory.CloseAll() == 0 ? memory.storage() : nullptr;
        if (!storage || FAILED(storage->Commit(0))) {
            ZEB_TRACE(rec, 4, "Error CloseAll/getIStoragePtr");
            *pRet = kFailure;
            return S_OK;
        }
        storage->AddRef();
        *ppStorage = storage;
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::importTypeData(IStorage* pSource, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::importTypeData");
    return serialised(rec, [&]() -> HRESULT {
        if (!pSource || !pRet) return nullArg(rec);
        *pRet = 0;
        auto fail = [&](DWORD code) {
            if (*pRet == 0) *pRet = code;
        };
        FsSectMan sections(pSource);
        FsSecCl* typecont = sections.GetSect("typecont", 0);
        FsSecCl* xmltree = sections.GetSect("xmltree", 0);
        if (!typecont || !xmltree) {
            ZEB_TRACE(rec, 4, "Error opening sections...");
            *pRet = kNoSections;
            return S_OK;
        }
        typecont->seek(0, 0);
        if (const DWORD r = m_typeCont.importTypeData(*typecont)) {
            ZEB_TRACE(rec, 4, "error importing type data");
            fail(r);
        }
        xmltree->seek(0, 0);
        if (const DWORD r = importXmlTreeInfo(*xmltree)) {
            ZEB_TRACE(rec, 4, "error importing xml data");
            fail(r);
        }
        if (sections.CloseAll() != 0) ZEB_TRACE(rec, 4, "error closing sections");
        return S_OK;
    });
}
