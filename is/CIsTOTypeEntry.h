// CIsTOTypeEntry: the install entry of TObject types; technology-object types read their runtime
// identifier and, when the object offers one, their proxy identifier (kept as the attribute
// BI_PROXY_TYPE_ID).
#pragma once

#include "is/CIsSimpleTypeEntry.h"

class CIsTOTypeEntry : public CIsSimpleTypeEntry<TC_TObject> {
public:
    DWORD onGetResidentData(IUnknown* pITypeObject) override;
};
