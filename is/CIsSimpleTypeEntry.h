// CIsSimpleTypeEntry<N>: the entry of a type of class N (0..8). It adds
// nothing to the base; classes 3 to 8 use it directly, devices, technology
// objects and packages derive their own entries from it.
#pragma once

#include "is/CIsBaseInstallEntry.h"

template <TypeClass N> class CIsSimpleTypeEntry : public CIsBaseInstallEntry {
    static_assert(N >= TC_Device && N <= TC_GenericObject, "not a type class");

public:
    CIsSimpleTypeEntry() : CIsBaseInstallEntry(N) {}
};
