#include "is/CIsDVTypeEntry.h"
#include "is/CIsPTypeEntry.h"
#include "is/CIsTOTypeEntry.h"

#include <new>

std::unique_ptr<CIsBaseInstallEntry> createEntry(TypeClass typeClass) {
    CIsBaseInstallEntry* entry = nullptr;
    switch (typeClass) {
    case TC_Device:
        entry = new (std::nothrow) CIsDVTypeEntry;
        break;
    case TC_TObject:
        entry = new (std::nothrow) CIsTOTypeEntry;
        break;
    case TC_Package:
        entry = new (std::nothrow) CIsPTypeEntry;
        break;
    case TC_ProcessingUnit:
        entry = new (std::nothrow) CIsSimpleTypeEntry<TC_ProcessingUnit>;
        break;
    case TC_Program:
        entry = new (std::nothrow) CIsSimpleTypeEntry<TC_Program>;
        break;
    case TC_SubObj:
        entry = new (std::nothrow) CIsSimpleTypeEntry<TC_SubObj>;
        break;
    case TC_ProjectGlobal:
        entry = new (std::nothrow) CIsSimpleTypeEntry<TC_ProjectGlobal>;
        break;
    case TC_Library:
        entry = new (std::nothrow) CIsSimpleTypeEntry<TC_Library>;
        break;
    case TC_GenericObject:
        entry = new (std::nothrow) CIsSimpleTypeEntry<TC_GenericObject>;
        break;
    default:
        break;
    }
    return std::unique_ptr<CIsBaseInstallEntry>(entry);
}
