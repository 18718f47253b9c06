// IStorage on a storage node of an open compound file (CfbDocument).
//
// The root storage object owns the document: when its last reference goes,
// a document opened for writing is saved (if changed) and closed. Commit on
// the root saves at once; Commit on a sub-storage and Revert do nothing
// (direct mode: every change is already in the tree that the root saves).
#pragma once

#include "platform/com/ComObject.h"
#include "platform/storage/CfbDocument.h"

#include <memory>

namespace zeb {

class CfbStorage final : public ComObject<CfbStorage, IStorage> {
public:
    static constexpr bool aggregatable = false;

    CfbStorage(std::shared_ptr<CfbDocument> doc, std::shared_ptr<CfbNode> node, DWORD mode,
               bool root) noexcept;
    void FinalRelease();

    // Creates the root storage object of an opened document.
    static HRESULT openRoot(std::shared_ptr<CfbDocument> doc, DWORD mode, IStorage** out) noexcept;

    HRESULT CreateStream(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                         IStream** ppstm) override;
    HRESULT OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD reserved2,
                       IStream** ppstm) override;
    HRESULT CreateStorage(const OLECHAR* pwcsName, DWORD grfMode, DWORD reserved1, DWORD reserved2,
                          IStorage** ppstg) override;
    HRESULT OpenStorage(const OLECHAR* pwcsName, IStorage* pstgPriority, DWORD grfMode,
                        SNB snbExclude, DWORD reserved, IStorage** ppstg) override;
    HRESULT CopyTo(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude,
                   IStorage* pstgDest) override;
    HRESULT MoveElementTo(const OLECHAR* pwcsName, IStorage* pstgDest, const OLECHAR* pwcsNewName,
                          DWORD grfFlags) override;
    HRESULT Commit(DWORD grfCommitFlags) override;
    HRESULT Revert() override;
    HRESULT EnumElements(DWORD reserved1, void* reserved2, DWORD reserved3,
                         IEnumSTATSTG** ppenum) override;
    HRESULT DestroyElement(const OLECHAR* pwcsName) override;
    HRESULT RenameElement(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) override;
    HRESULT SetElementTimes(const OLECHAR* pwcsName, const FILETIME* pctime, const FILETIME* patime,
                            const FILETIME* pmtime) override;
    HRESULT SetClass(REFCLSID clsid) override;
    HRESULT SetStateBits(DWORD grfStateBits, DWORD grfMask) override;
    HRESULT Stat(STATSTG* pstatstg, DWORD grfStatFlag) override;

    // Copies the children of `source` (a detached snapshot) into dest,
    // replacing same-named streams and merging same-named storages.
    static HRESULT copyChildren(const CfbNode& source, IStorage* dest) noexcept;

private:
    // REQUIRES: the document's mutex held.
    HRESULT usable() const noexcept;
    HRESULT writableHere() const noexcept;
    uint32_t depth() const noexcept;
    HRESULT createChild(const OLECHAR* name, DWORD mode, DWORD type, std::shared_ptr<CfbNode>& out);
    HRESULT openChild(const OLECHAR* name, DWORD mode, DWORD type, std::shared_ptr<CfbNode>& out);

    std::shared_ptr<CfbDocument> m_doc;
    std::shared_ptr<CfbNode> m_node;
    DWORD m_mode;
    bool m_root;
};

// Fills *out for node; the name (unless STATFLAG_NONAME) with CoTaskMemAlloc.
HRESULT cfbStat(const CfbNode& node, const std::u16string& name, DWORD mode, DWORD flags,
                STATSTG* out) noexcept;

} // namespace zeb
