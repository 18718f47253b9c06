// XmlNodeList: a list of nodes taken when the list was asked for (children,
// XPath results). It holds a reference on each node, so the nodes stay
// valid whatever happens to the tree afterwards.
#pragma once

#include "platform/com/ComObject.h"
#include "platform/com/ComPtr.h"
#include "platform/xml/XmlDispatch.h"
#include "platform/xml/XmlDomInterfaces.h"

#include <vector>

namespace zeb {

class XmlNodeList final
    : public SingleThreadComObject<
          XmlNodeList, Chain<XmlDispatch<IXMLDOMNodeList>, IXMLDOMNodeList, IDispatch>> {
public:
    explicit XmlNodeList(std::vector<ComPtr<IXMLDOMNode>> nodes) noexcept
        : m_nodes(std::move(nodes)) {}
    static constexpr bool aggregatable = false;

    // S_FALSE and null for an index outside the list.
    HRESULT get_item(LONG index, IXMLDOMNode** listItem) override;
    HRESULT get_length(LONG* listLength) override;
    // The next node from the list's cursor; S_FALSE and null at the end.
    HRESULT nextNode(IXMLDOMNode** nextItem) override;
    HRESULT reset() override;
    HRESULT get__newEnum(IUnknown** ppUnk) override; // E_NOTIMPL

private:
    std::vector<ComPtr<IXMLDOMNode>> m_nodes;
    size_t m_cursor = 0;
};

} // namespace zeb
