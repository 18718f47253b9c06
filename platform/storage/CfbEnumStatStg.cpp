#include "platform/storage/CfbEnumStatStg.h"

#include "platform/com/TaskAllocator.h"

#include <cstring>

namespace zeb {

CfbEnumStatStg::CfbEnumStatStg(Items items, size_t position) noexcept
    : m_items(std::move(items)), m_position(position) {}

HRESULT CfbEnumStatStg::Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) {
    if (pceltFetched) *pceltFetched = 0;
    if (!rgelt) return STG_E_INVALIDPOINTER;
    if (!pceltFetched && celt != 1) return STG_E_INVALIDPARAMETER;
    std::lock_guard lock(m_mutex);
    ULONG fetched = 0;
    while (fetched < celt && m_position < m_items->size()) {
        const Item& item = (*m_items)[m_position];
        auto* name =
            static_cast<OLECHAR*>(CoTaskMemAlloc((item.name.size() + 1) * sizeof(OLECHAR)));
        if (!name) {
            for (ULONG i = 0; i < fetched; ++i) {
                CoTaskMemFree(rgelt[i].pwcsName);
                rgelt[i].pwcsName = nullptr;
            }
            return STG_E_INSUFFICIENTMEMORY;
        }
        std::memcpy(name, item.name.c_str(), (item.name.size() + 1) * sizeof(OLECHAR));
        rgelt[fetched] = item.stat;
        rgelt[fetched].pwcsName = name;
        ++fetched;
        ++m_position;
    }
    if (pceltFetched) *pceltFetched = fetched;
    return fetched == celt ? S_OK : S_FALSE;
}

HRESULT CfbEnumStatStg::Skip(ULONG celt) {
    std::lock_guard lock(m_mutex);
    size_t left = m_items->size() - m_position;
    m_position += std::min<size_t>(celt, left);
    return celt <= left ? S_OK : S_FALSE;
}

HRESULT CfbEnumStatStg::Reset() {
    std::lock_guard lock(m_mutex);
    m_position = 0;
    return S_OK;
}

HRESULT CfbEnumStatStg::Clone(IEnumSTATSTG** ppenum) {
    if (!ppenum) return STG_E_INVALIDPOINTER;
    *ppenum = nullptr;
    std::lock_guard lock(m_mutex);
    CfbEnumStatStg* e = nullptr;
    HRESULT hr = createObject(&e, m_items, m_position);
    if (SUCCEEDED(hr)) *ppenum = e;
    return hr;
}

} // namespace zeb
