#include "platform/xml/XmlNodeList.h"

namespace zeb {

HRESULT XmlNodeList::get_item(LONG index, IXMLDOMNode** listItem) {
    if (!listItem) return E_POINTER;
    *listItem = nullptr;
    if (index < 0 || static_cast<size_t>(index) >= m_nodes.size()) return S_FALSE;
    *listItem = m_nodes[static_cast<size_t>(index)].get();
    (*listItem)->AddRef();
    return S_OK;
}

HRESULT XmlNodeList::get_length(LONG* listLength) {
    if (!listLength) return E_POINTER;
    *listLength = static_cast<LONG>(m_nodes.size());
    return S_OK;
}

HRESULT XmlNodeList::nextNode(IXMLDOMNode** nextItem) {
    if (!nextItem) return E_POINTER;
    *nextItem = nullptr;
    if (m_cursor >= m_nodes.size()) return S_FALSE;
    *nextItem = m_nodes[m_cursor++].get();
    (*nextItem)->AddRef();
    return S_OK;
}

HRESULT XmlNodeList::reset() {
    m_cursor = 0;
    return S_OK;
}

HRESULT XmlNodeList::get__newEnum(IUnknown** ppUnk) {
    if (ppUnk) *ppUnk = nullptr;
    return E_NOTIMPL;
}

} // namespace zeb
