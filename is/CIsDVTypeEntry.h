// CIsDVTypeEntry: the install entry of Device types; device types read their runtime identifier.
#pragma once

#include "is/CIsSimpleTypeEntry.h"

class CIsDVTypeEntry : public CIsSimpleTypeEntry<TC_Device> {
public:
    DWORD onGetResidentData(IUnknown* pITypeObject) override;
};
