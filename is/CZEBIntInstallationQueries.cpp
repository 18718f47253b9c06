// The named XPath queries of the installation: registering them in the XPath
// map and evaluating them on the classification document.
#include "is/CZEBIntInstallation.h"

#include "co/CCoRtmmScope.h"
#include "h/ResultCodes.h"
#include "is/xml/CIsXmlQueryText.h"
#include "platform/com/Guid.h"
#include "platform/com/SafeArray.h"
#include "platform/com/TaskAllocator.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"

#include <string>
#include <vector>

using zeb::xml::DomNode;

namespace {

constexpr const char* kFile = "is_inst";

HRESULT nullArg(CCoTraceRecord& rec) {
    ZEB_TRACE(rec, 4, "error: NULL pointer argument");
    return E_POINTER;
}

std::string narrow(BSTR text) {
    return zeb::toNarrow(std::u16string_view(text ? text : u"", SysStringLen(text)));
}

// The text of a parameter: a string (or a reference to one) as it is, any
// other value as the en-US conversion gives it, "" when it has none.
std::string paramText(const VARIANT& param) {
    if (param.vt == VT_BSTR) return narrow(param.bstrVal);
    if (param.vt == (VT_BYREF | VT_BSTR)) return narrow(param.pbstrVal ? *param.pbstrVal : nullptr);
    zeb::Variant text;
    if (FAILED(VariantChangeTypeEx(&text, &param, 1033, 0, VT_BSTR)) || text.vt != VT_BSTR)
        return {};
    return narrow(text.bstrVal);
}

// The stored XPath of `id`, or null after the trace of a missing one.
const String* storedQuery(const CIsXPathMap& map, const std::string& id, CCoTraceRecord& rec) {
    const String* xpath = map.find(String(id.c_str()));
    if (!xpath) ZEB_TRACE(rec, 4, "given XQuery-ID not found");
    return xpath;
}

} // namespace

// ---- IMC_InternalInstallClassification

HRESULT CZEBIntInstallation::registerXPathQuery(LPCSTR queryId, LPCSTR xpath, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::registerXPathQuery");
    return serialised(rec, [&]() -> HRESULT {
        if (!queryId || !xpath || !pRet) return nullArg(rec);
        *pRet = IS_INTERNAL;
        const String id(queryId);
        if (m_xpathMap.find(id)) {
            // The stored query stays: clients registered against it.
            ZEB_TRACE(rec, 4, "XPath-Query-Id already exists");
            *pRet = IS_ALREADY_PRESENT;
            return S_OK;
        }
        if (m_xpathMap.insert(id, String(xpath))) {
            *pRet = IS_OK;
            m_queryMapChanged = true;
        }
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::unregisterXPathQuery(LPCSTR queryId, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::unregisterXPathQuery");
    return serialised(rec, [&]() -> HRESULT {
        if (!queryId || !pRet) return nullArg(rec);
        *pRet = IS_INTERNAL;
        if (!m_xpathMap.erase(String(queryId))) {
            ZEB_TRACE(rec, 4, "XPath-Query-Id does not exist");
            *pRet = IS_NOT_FOUND;
            return S_OK;
        }
        m_queryMapChanged = true;
        *pRet = IS_OK;
        return S_OK;
    });
}

// ---- IMC_InstallClassification

HRESULT CZEBIntInstallation::getTypeDescr(BSTR queryId, VARIANT* pResult, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeDescr");
    return serialised(rec, [&]() -> HRESULT {
        if (!pResult || !pRet) return nullArg(rec);
        const String* xpath = storedQuery(m_xpathMap, narrow(queryId), rec);
        if (!xpath) {
            *pRet = IS_NOT_IN_DOCUMENT;
            return S_OK;
        }
        *pRet = getXQueryResult(std::string(xpath->view()), pResult);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeDescrAttr(GUID typeId, BSTR queryId, VARIANT* pResult,
                                              DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeDescrAttr");
    return serialised(rec, [&]() -> HRESULT {
        if (!pResult || !pRet) return nullArg(rec);
        *pRet = IS_OK;
        zeb::TaskMem<OLECHAR> idText;
        DWORD ret = 0;
        HRESULT hr = guardedCallRet(rec, "StringFromCLSID(typeID, &lpszTypeID)", ret,
                                    [&] { return StringFromCLSID(typeId, zeb::outPtr(idText)); });
        if (FAILED(hr) || ret != 0 || !idText) {
            *pRet = IS_INTERNAL;
            return FAILED(hr) ? hr : E_FAIL;
        }
        const String* stored = storedQuery(m_xpathMap, narrow(queryId), rec);
        if (!stored) {
            *pRet = IS_NOT_IN_DOCUMENT;
            return S_OK;
        }
        std::string xpath(stored->view());
        if (!CIsXmlQueryText::fillTypeId(xpath, zeb::toNarrow(idText.get()))) {
            *pRet = IS_QUERY_PLACEHOLDER;
            return S_OK;
        }
        *pRet = getXQueryResult(xpath, pResult);
        return S_OK;
    });
}

HRESULT CZEBIntInstallation::getTypeDescrParam(LONG count, VARIANT* pParams, BSTR queryId,
                                               VARIANT* pResult, DWORD* pRet) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getTypeDescrParam");
    return serialised(rec, [&]() -> HRESULT {
        if (!pParams || !pResult || !pRet) return nullArg(rec);
        const String* stored = storedQuery(m_xpathMap, narrow(queryId), rec);
        if (!stored) {
            *pRet = IS_NOT_IN_DOCUMENT;
            return S_OK;
        }
        std::vector<std::string> params;
        for (LONG i = 0; i < count; ++i)
            params.push_back(paramText(pParams[i]));
        const CIsXmlQueryText::Result filled = CIsXmlQueryText::fillParams(stored->view(), params);
        switch (filled.code) {
        case CIsXmlQueryText::kOk:
            *pRet = getXQueryResult(filled.text, pResult);
            break;
        case CIsXmlQueryText::kParamMissing:
            ZEB_TRACE(rec, 4, "Param %s not in Query!",
                      CIsXmlQueryText::paramName(filled.param).c_str());
            *pRet = IS_QUERY_PLACEHOLDER;
            break;
        case CIsXmlQueryText::kParamLeft:
            ZEB_TRACE(rec, 4, "Not all parameters replaced");
            *pRet = IS_QUERY_PLACEHOLDER;
            break;
        case CIsXmlQueryText::kUnsafeParam:
            // Outside a string literal only a number or a name may stand:
            // other text would change what the query means.
            ZEB_TRACE(rec, 4, "Param %s is no number or name outside a string literal",
                      CIsXmlQueryText::paramName(filled.param).c_str());
            *pRet = IS_QUERY_PLACEHOLDER;
            break;
        }
        return S_OK;
    });
}

DWORD CZEBIntInstallation::getXQueryResult(const std::string& xpath, VARIANT* result) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::getXQueryResult");
    CCoRtmmScope rtmm("0", "CZEBIntInstallation::getXQueryResult");
    std::vector<DomNode> nodes;
    zeb::xml::XPathError why = zeb::xml::XPathError::None;
    HRESULT hr = m_classification.selectQuery(xpath, nodes, &why);
    if (FAILED(hr)) {
        // The selection raises its error, as the DOM's does: the interface
        // method answers E_FAIL and leaves pRet as it stood.
        ZEB_TRACE(rec, 4, "error selecting nodes: %s", zeb::xml::describe(why));
        throw zeb::ComError(hr, "XPath selection failed");
    }
    if (nodes.empty()) return IS_EMPTY;
    if (nodes.front().nodeType() != NODE_ATTRIBUTE) {
        ZEB_TRACE(rec, 4, "only attributes supported");
        return IS_NOT_ATTRIBUTE;
    }

    if (nodes.size() == 1) {
        BSTR value = nullptr;
        hr = guardedCall(rec, "spQRNodeList->Getitem(0)->get_text(&bstrValue)",
                         [&] { return nodes.front().get()->get_text(&value); });
        if (FAILED(hr) || !value) {
            SysFreeString(value);
            if (SUCCEEDED(hr))
                zeb::detail::onCallFailureRet(rec, "spQRNodeList->Getitem(0)->get_text(&bstrValue)",
                                              E_OUTOFMEMORY, IS_INTERNAL, __LINE__);
            return IS_INTERNAL;
        }
        // Overwritten, not cleared: the caller hands in an empty variant.
        result->vt = VT_BSTR;
        result->bstrVal = value;
        return IS_OK;
    }

    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, ULONG(nodes.size()));
    if (!array) {
        ZEB_TRACE(rec, 4, "out of memory");
        return IS_INTERNAL;
    }
    BSTR* data = nullptr;
    DWORD ret = 0;
    hr = guardedCallRet(
        rec, "SafeArrayAccessData( vValue.parray, reinterpret_cast<void**>(&pArray))", ret,
        [&] { return SafeArrayAccessData(array, reinterpret_cast<void**>(&data)); });
    if (FAILED(hr) || ret != 0) {
        SafeArrayDestroy(array);
        return IS_INTERNAL;
    }
    bool read = true;
    for (size_t i = 0; i < nodes.size() && read; ++i) {
        ret = 0;
        hr = guardedCallRet(rec, "spQueryResult->get_text(&bstrValue)", ret,
                            [&] { return nodes[i].get()->get_text(&data[i]); });
        read = SUCCEEDED(hr) && ret == 0 && data[i];
    }
    ret = 0;
    hr = guardedCallRet(rec, "SafeArrayUnaccessData(pSA)", ret,
                        [&] { return SafeArrayUnaccessData(array); });
    if (!read || FAILED(hr) || ret != 0) {
        SafeArrayDestroy(array); // frees the texts read so far
        return IS_INTERNAL;
    }
    result->vt = VT_ARRAY | VT_BSTR;
    result->parray = array;
    return IS_OK;
}
