// CIsPTypeEntry: the install entry of Package types; package types read their runtime identifier.
#pragma once

#include "is/CIsSimpleTypeEntry.h"

class CIsPTypeEntry : public CIsSimpleTypeEntry<TC_Package> {
public:
    DWORD onGetResidentData(IUnknown* pITypeObject) override;
};
