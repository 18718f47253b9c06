#include "platform/storage/CfbStorage.h"

#include "platform/com/TaskAllocator.h"
#include "platform/storage/CfbEnumStatStg.h"
#include "platform/storage/CfbStream.h"

#include <cstring>
#include <new>
#include <vector>

namespace zeb {

namespace {

// Runs f, turning an escaping exception into a code.
template <class F> HRESULT guarded(F&& f) noexcept {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        return STG_E_INSUFFICIENTMEMORY;
    } catch (...) {
        return STG_E_UNKNOWN;
    }
}

bool excluded(SNB snb, const std::u16string& name) {
    if (!snb) return false;
    for (OLECHAR** p = snb; *p; ++p)
        if (!CfbNameLess{}(name, *p) && !CfbNameLess{}(*p, name)) return true;
    return false;
}

bool excludedIid(DWORD count, const IID* iids, const IID& iid) {
    if (!iids) return false;
    for (DWORD i = 0; i < count; ++i)
        if (iids[i] == iid) return true;
    return false;
}

HRESULT copyStream(const CfbNode& node, IStream* dest) {
    const BYTE* data = node.bytes();
    size_t size = node.size();
    ULARGE_INTEGER zero;
    zero.QuadPart = 0;
    HRESULT hr = dest->SetSize(zero);
    if (FAILED(hr)) return hr;
    size_t done = 0;
    while (done < size) {
        ULONG chunk = static_cast<ULONG>(std::min<size_t>(size - done, 1u << 30));
        ULONG put = 0;
        hr = dest->Write(data + done, chunk, &put);
        if (FAILED(hr)) return hr;
        if (put == 0) return STG_E_WRITEFAULT;
        done += put;
    }
    return S_OK;
}

constexpr DWORD kChildMode = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

HRESULT copyElement(const CfbNode& child, const std::u16string& name, IStorage* dest) {
    if (child.type == STGTY_STREAM) {
        ComPtr<IStream> s;
        HRESULT hr = dest->CreateStream(name.c_str(), kChildMode | STGM_CREATE, 0, 0, &s);
        if (FAILED(hr)) return hr;
        return copyStream(child, s);
    }
    ComPtr<IStorage> sub;
    HRESULT hr = dest->OpenStorage(name.c_str(), nullptr, kChildMode, nullptr, 0, &sub);
    if (FAILED(hr)) hr = dest->CreateStorage(name.c_str(), kChildMode | STGM_CREATE, 0, 0, &sub);
    if (FAILED(hr)) return hr;
    hr = sub->SetClass(child.clsid);
    if (SUCCEEDED(hr)) hr = sub->SetStateBits(child.stateBits, 0xFFFFFFFF);
    if (SUCCEEDED(hr)) hr = CfbStorage::copyChildren(child, sub);
    if (SUCCEEDED(hr))
        hr = dest->SetElementTimes(name.c_str(), &child.ctime, nullptr, &child.mtime);
    return hr;
}

} // namespace

HRESULT cfbStat(const CfbNode& node, const std::u16string& name, DWORD mode, DWORD flags,
                STATSTG* out) noexcept {
    if (!out) return STG_E_INVALIDPOINTER;
    if (flags > (STATFLAG_NONAME | STATFLAG_NOOPEN)) return STG_E_INVALIDFLAG;
    std::memset(out, 0, sizeof(*out));
    if (!(flags & STATFLAG_NONAME)) {
        auto* p = static_cast<OLECHAR*>(CoTaskMemAlloc((name.size() + 1) * sizeof(OLECHAR)));
        if (!p) return STG_E_INSUFFICIENTMEMORY;
        std::memcpy(p, name.c_str(), (name.size() + 1) * sizeof(OLECHAR));
        out->pwcsName = p;
    }
    out->type = node.type;
    out->cbSize.QuadPart = node.type == STGTY_STREAM ? node.size() : 0;
    out->grfMode = mode;
    if (node.type == STGTY_STORAGE) {
        out->ctime = node.ctime;
        out->mtime = node.mtime;
        out->clsid = node.clsid;
        out->grfStateBits = node.stateBits;
    }
    return S_OK;
}

CfbStorage::CfbStorage(std::shared_ptr<CfbDocument> doc, std::shared_ptr<CfbNode> node, DWORD mode,
                       bool root) noexcept
    : m_doc(std::move(doc)), m_node(std::move(node)), m_mode(mode), m_root(root) {
    ++m_node->openCount;
}

void CfbStorage::FinalRelease() {
    std::lock_guard lock(m_doc->mutex);
    --m_node->openCount;
    if (m_root && !m_doc->closed()) {
        // Direct mode: what was written reaches the file. A failure here has
        // no caller to tell; the file then keeps its last committed content.
        m_doc->release();
    }
}

HRESULT CfbStorage::openRoot(std::shared_ptr<CfbDocument> doc, DWORD mode,
                             IStorage** out) noexcept {
    return guarded([&]() -> HRESULT {
        CfbStorage* object = nullptr;
        std::shared_ptr<CfbNode> root = doc->root();
        HRESULT hr = createObject(&object, std::move(doc), std::move(root), mode, true);
        if (FAILED(hr)) return hr;
        *out = object;
        return S_OK;
    });
}

HRESULT CfbStorage::usable() const noexcept {
    return (m_doc->closed() || m_node->removed) ? STG_E_REVERTED : S_OK;
}

HRESULT CfbStorage::writableHere() const noexcept {
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    return (m_doc->writable() && stgmWrites(m_mode)) ? S_OK : STG_E_ACCESSDENIED;
}

uint32_t CfbStorage::depth() const noexcept {
    uint32_t d = 0;
    for (const CfbNode* n = m_node.get(); n->parent; n = n->parent)
        ++d;
    return d;
}

HRESULT CfbStorage::createChild(const OLECHAR* name, DWORD mode, DWORD type,
                                std::shared_ptr<CfbNode>& out) {
    if (HRESULT hr = cfbCheckName(name); FAILED(hr)) return hr;
    if (HRESULT hr = stgmCheck(mode); FAILED(hr)) return hr;
    if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE) return STG_E_INVALIDFLAG;
    if (HRESULT hr = writableHere(); FAILED(hr)) return hr;
    if (type == STGTY_STORAGE && depth() + 1 > kCfbMaxDepth) return STG_E_DOCFILETOOLARGE;
    std::u16string key(name);
    auto it = m_node->children.find(key);
    if (it != m_node->children.end()) {
        if (!(mode & STGM_CREATE)) return STG_E_FILEALREADYEXISTS;
        if (it->second->openCount > 0) return STG_E_ACCESSDENIED;
        it->second->markRemoved();
        m_node->children.erase(it);
    }
    auto node = std::make_shared<CfbNode>();
    node->name = key;
    node->type = type;
    node->parent = m_node.get();
    if (type == STGTY_STORAGE) node->ctime = node->mtime = cfbNow();
    m_node->children.emplace(std::move(key), node);
    m_doc->touch();
    out = std::move(node);
    return S_OK;
}

HRESULT CfbStorage::openChild(const OLECHAR* name, DWORD mode, DWORD type,
                              std::shared_ptr<CfbNode>& out) {
    if (HRESULT hr = cfbCheckName(name); FAILED(hr)) return hr;
    if (HRESULT hr = stgmCheck(mode); FAILED(hr)) return hr;
    if ((mode & 0x70) != STGM_SHARE_EXCLUSIVE || (mode & STGM_CREATE)) return STG_E_INVALIDFLAG;
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    if (stgmWrites(mode) && (!m_doc->writable() || !stgmWrites(m_mode))) return STG_E_ACCESSDENIED;
    auto it = m_node->children.find(std::u16string_view(name));
    if (it == m_node->children.end() || it->second->type != type) return STG_E_FILENOTFOUND;
    if (it->second->openCount > 0) return STG_E_ACCESSDENIED;
    out = it->second;
    return S_OK;
}

HRESULT CfbStorage::CreateStream(const OLECHAR* pwcsName, DWORD grfMode, DWORD, DWORD,
                                 IStream** ppstm) {
    if (!ppstm) return STG_E_INVALIDPOINTER;
    *ppstm = nullptr;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        std::shared_ptr<CfbNode> node;
        HRESULT hr = createChild(pwcsName, grfMode, STGTY_STREAM, node);
        if (FAILED(hr)) return hr;
        CfbStream* s = nullptr;
        hr = CfbStream::createObject(&s, m_doc, node, grfMode);
        if (SUCCEEDED(hr)) *ppstm = s;
        return hr;
    });
}

HRESULT CfbStorage::OpenStream(const OLECHAR* pwcsName, void* reserved1, DWORD grfMode, DWORD,
                               IStream** ppstm) {
    if (!ppstm) return STG_E_INVALIDPOINTER;
    *ppstm = nullptr;
    if (reserved1) return STG_E_INVALIDPARAMETER;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        std::shared_ptr<CfbNode> node;
        HRESULT hr = openChild(pwcsName, grfMode, STGTY_STREAM, node);
        if (FAILED(hr)) return hr;
        CfbStream* s = nullptr;
        hr = CfbStream::createObject(&s, m_doc, node, grfMode);
        if (SUCCEEDED(hr)) *ppstm = s;
        return hr;
    });
}

HRESULT CfbStorage::CreateStorage(const OLECHAR* pwcsName, DWORD grfMode, DWORD, DWORD,
                                  IStorage** ppstg) {
    if (!ppstg) return STG_E_INVALIDPOINTER;
    *ppstg = nullptr;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        std::shared_ptr<CfbNode> node;
        HRESULT hr = createChild(pwcsName, grfMode, STGTY_STORAGE, node);
        if (FAILED(hr)) return hr;
        CfbStorage* s = nullptr;
        hr = createObject(&s, m_doc, node, grfMode, false);
        if (SUCCEEDED(hr)) *ppstg = s;
        return hr;
    });
}

HRESULT CfbStorage::OpenStorage(const OLECHAR* pwcsName, IStorage*, DWORD grfMode, SNB, DWORD,
                                IStorage** ppstg) {
    if (!ppstg) return STG_E_INVALIDPOINTER;
    *ppstg = nullptr;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        std::shared_ptr<CfbNode> node;
        HRESULT hr = openChild(pwcsName, grfMode, STGTY_STORAGE, node);
        if (FAILED(hr)) return hr;
        CfbStorage* s = nullptr;
        hr = createObject(&s, m_doc, node, grfMode, false);
        if (SUCCEEDED(hr)) *ppstg = s;
        return hr;
    });
}

HRESULT CfbStorage::copyChildren(const CfbNode& source, IStorage* dest) noexcept {
    return guarded([&]() -> HRESULT {
        for (const auto& [name, child] : source.children) {
            HRESULT hr = copyElement(*child, name, dest);
            if (FAILED(hr)) return hr;
        }
        return S_OK;
    });
}

HRESULT CfbStorage::CopyTo(DWORD ciidExclude, const IID* rgiidExclude, SNB snbExclude,
                           IStorage* pstgDest) {
    if (!pstgDest) return STG_E_INVALIDPOINTER;
    return guarded([&]() -> HRESULT {
        // Copy from a snapshot, without holding this document's lock while
        // the destination (perhaps another document) is called.
        std::shared_ptr<CfbNode> snapshot;
        {
            std::lock_guard lock(m_doc->mutex);
            if (HRESULT hr = usable(); FAILED(hr)) return hr;
            snapshot = m_node->clone();
        }
        bool noStorages = excludedIid(ciidExclude, rgiidExclude, IID_IStorage);
        bool noStreams = excludedIid(ciidExclude, rgiidExclude, IID_IStream);
        for (auto it = snapshot->children.begin(); it != snapshot->children.end();) {
            bool drop = excluded(snbExclude, it->first) ||
                        (noStorages && it->second->type == STGTY_STORAGE) ||
                        (noStreams && it->second->type == STGTY_STREAM);
            it = drop ? snapshot->children.erase(it) : std::next(it);
        }
        HRESULT hr = pstgDest->SetClass(snapshot->clsid);
        if (SUCCEEDED(hr)) hr = pstgDest->SetStateBits(snapshot->stateBits, 0xFFFFFFFF);
        if (SUCCEEDED(hr)) hr = copyChildren(*snapshot, pstgDest);
        return hr;
    });
}

HRESULT CfbStorage::MoveElementTo(const OLECHAR* pwcsName, IStorage* pstgDest,
                                  const OLECHAR* pwcsNewName, DWORD grfFlags) {
    if (!pstgDest) return STG_E_INVALIDPOINTER;
    if (grfFlags != STGMOVE_MOVE && grfFlags != STGMOVE_COPY) return STG_E_INVALIDFLAG;
    if (HRESULT hr = cfbCheckName(pwcsName); FAILED(hr)) return hr;
    if (HRESULT hr = cfbCheckName(pwcsNewName); FAILED(hr)) return hr;
    return guarded([&]() -> HRESULT {
        std::shared_ptr<CfbNode> snapshot;
        {
            std::lock_guard lock(m_doc->mutex);
            if (HRESULT hr = grfFlags == STGMOVE_MOVE ? writableHere() : usable(); FAILED(hr))
                return hr;
            auto it = m_node->children.find(std::u16string_view(pwcsName));
            if (it == m_node->children.end()) return STG_E_FILENOTFOUND;
            if (grfFlags == STGMOVE_MOVE && it->second->openCount > 0) return STG_E_ACCESSDENIED;
            snapshot = it->second->clone();
        }
        HRESULT hr = copyElement(*snapshot, pwcsNewName, pstgDest);
        if (SUCCEEDED(hr) && grfFlags == STGMOVE_MOVE) {
            std::lock_guard lock(m_doc->mutex);
            auto it = m_node->children.find(std::u16string_view(pwcsName));
            // Moved onto itself (same storage and name): nothing to remove.
            if (it != m_node->children.end() && it->second->openCount == 0 &&
                !(pstgDest == static_cast<IStorage*>(this) &&
                  !CfbNameLess{}(pwcsName, pwcsNewName) && !CfbNameLess{}(pwcsNewName, pwcsName))) {
                it->second->markRemoved();
                m_node->children.erase(it);
                m_doc->touch();
            }
        }
        return hr;
    });
}

HRESULT CfbStorage::Commit(DWORD grfCommitFlags) {
    if (grfCommitFlags & ~0xFu) return STG_E_INVALIDFLAG;
    std::lock_guard lock(m_doc->mutex);
    if (HRESULT hr = usable(); FAILED(hr)) return hr;
    return m_root ? m_doc->save() : S_OK;
}

HRESULT CfbStorage::Revert() {
    std::lock_guard lock(m_doc->mutex);
    return usable();
}

HRESULT CfbStorage::EnumElements(DWORD, void*, DWORD, IEnumSTATSTG** ppenum) {
    if (!ppenum) return STG_E_INVALIDPOINTER;
    *ppenum = nullptr;
    return guarded([&]() -> HRESULT {
        auto items = std::make_shared<std::vector<CfbEnumStatStg::Item>>();
        {
            std::lock_guard lock(m_doc->mutex);
            if (HRESULT hr = usable(); FAILED(hr)) return hr;
            items->reserve(m_node->children.size());
            for (const auto& [name, child] : m_node->children) {
                CfbEnumStatStg::Item item{name, {}};
                HRESULT hr = cfbStat(*child, name, 0, STATFLAG_NONAME, &item.stat);
                if (FAILED(hr)) return hr;
                items->push_back(std::move(item));
            }
        }
        CfbEnumStatStg* e = nullptr;
        HRESULT hr = CfbEnumStatStg::createObject(&e, std::move(items), 0);
        if (SUCCEEDED(hr)) *ppenum = e;
        return hr;
    });
}

HRESULT CfbStorage::DestroyElement(const OLECHAR* pwcsName) {
    if (HRESULT hr = cfbCheckName(pwcsName); FAILED(hr)) return hr;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        if (HRESULT hr = writableHere(); FAILED(hr)) return hr;
        auto it = m_node->children.find(std::u16string_view(pwcsName));
        if (it == m_node->children.end()) return STG_E_FILENOTFOUND;
        // Objects still open on the element answer STG_E_REVERTED from now on.
        it->second->markRemoved();
        m_node->children.erase(it);
        m_doc->touch();
        return S_OK;
    });
}

HRESULT CfbStorage::RenameElement(const OLECHAR* pwcsOldName, const OLECHAR* pwcsNewName) {
    if (HRESULT hr = cfbCheckName(pwcsOldName); FAILED(hr)) return hr;
    if (HRESULT hr = cfbCheckName(pwcsNewName); FAILED(hr)) return hr;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        if (HRESULT hr = writableHere(); FAILED(hr)) return hr;
        auto it = m_node->children.find(std::u16string_view(pwcsOldName));
        if (it == m_node->children.end()) return STG_E_FILENOTFOUND;
        auto other = m_node->children.find(std::u16string_view(pwcsNewName));
        if (other != m_node->children.end() && other != it) return STG_E_ACCESSDENIED;
        if (it->second->openCount > 0) return STG_E_ACCESSDENIED;
        auto handle = m_node->children.extract(it);
        handle.key() = pwcsNewName;
        handle.mapped()->name = pwcsNewName;
        m_node->children.insert(std::move(handle));
        m_doc->touch();
        return S_OK;
    });
}

HRESULT CfbStorage::SetElementTimes(const OLECHAR* pwcsName, const FILETIME* pctime,
                                    const FILETIME*, const FILETIME* pmtime) {
    if (pwcsName)
        if (HRESULT hr = cfbCheckName(pwcsName); FAILED(hr)) return hr;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        if (HRESULT hr = writableHere(); FAILED(hr)) return hr;
        CfbNode* node = m_node.get();
        if (pwcsName) {
            auto it = m_node->children.find(std::u16string_view(pwcsName));
            if (it == m_node->children.end()) return STG_E_FILENOTFOUND;
            node = it->second.get();
        }
        // Streams carry no times in the format.
        if (node->type != STGTY_STORAGE) return S_OK;
        if (pctime) node->ctime = *pctime;
        if (pmtime) node->mtime = *pmtime;
        m_doc->touch();
        return S_OK;
    });
}

HRESULT CfbStorage::SetClass(REFCLSID clsid) {
    std::lock_guard lock(m_doc->mutex);
    if (HRESULT hr = writableHere(); FAILED(hr)) return hr;
    m_node->clsid = clsid;
    m_doc->touch();
    return S_OK;
}

HRESULT CfbStorage::SetStateBits(DWORD grfStateBits, DWORD grfMask) {
    std::lock_guard lock(m_doc->mutex);
    if (HRESULT hr = writableHere(); FAILED(hr)) return hr;
    m_node->stateBits = (m_node->stateBits & ~grfMask) | (grfStateBits & grfMask);
    m_doc->touch();
    return S_OK;
}

HRESULT CfbStorage::Stat(STATSTG* pstatstg, DWORD grfStatFlag) {
    if (!pstatstg) return STG_E_INVALIDPOINTER;
    return guarded([&]() -> HRESULT {
        std::lock_guard lock(m_doc->mutex);
        if (HRESULT hr = usable(); FAILED(hr)) return hr;
        std::u16string name = m_root ? m_doc->displayName() : m_node->name;
        if (m_root && name.empty()) name = m_node->name;
        return cfbStat(*m_node, name, m_mode, grfStatFlag, pstatstg);
    });
}

} // namespace zeb
