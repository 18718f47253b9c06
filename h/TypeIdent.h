// Identity of installed types: the type identifier and its no-type value,
// the runtime type identifier RTTypeID and the type class.
//
//   GUID id = cont.getTypeIdByName("Drive.1.0");
//   if (isNoType(id)) ...                      // nothing installed under that name
//   RTTypeID rt{family, 2, 0};
//   if (sameRuntimeIdentity(rt, other)) ...    // guidVersion and nMajor decide
//
// Type identifiers are GUIDs ordered as Guid.h says (Data1, Data2, Data3,
// then the Data4 bytes, all unsigned); every GUID-keyed map of the registry
// uses that order, so "the first match" of a lookup is the first in it.
#pragma once

#include "platform/com/Guid.h"

#include <cstdint>

// All 16 bytes 0xFF: "no type". Failed lookups return it.
constexpr GUID GUID_NOTYPE{
    0xFFFFFFFFu, 0xFFFF, 0xFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};

constexpr bool isNoType(const GUID& id) {
    return id == GUID_NOTYPE;
}

// Runtime type identifier: the runtime identity of a type family and its
// version. Same layout as the version stamp ZEB_VersionStamp.
struct RTTypeID {
    GUID guidVersion;
    uint16_t nMajor;
    uint16_t nMinor;
};
static_assert(sizeof(RTTypeID) == 20, "RTTypeID crosses interfaces as 20 bytes");

// All 20 bytes 0xFF (nMajor = nMinor = 65535).
constexpr RTTypeID RTTYPEID_INVALID{GUID_NOTYPE, 0xFFFF, 0xFFFF};

constexpr bool operator==(const RTTypeID& a, const RTTypeID& b) {
    return a.guidVersion == b.guidVersion && a.nMajor == b.nMajor && a.nMinor == b.nMinor;
}
constexpr bool isInvalid(const RTTypeID& rt) {
    return rt == RTTYPEID_INVALID;
}

// Lookups and the uniqueness rule see a runtime identity as (guidVersion,
// nMajor); nMinor never matters there.
constexpr bool sameRuntimeIdentity(const RTTypeID& a, const RTTypeID& b) {
    return a.guidVersion == b.guidVersion && a.nMajor == b.nMajor;
}

// Whether rt names a runtime identity at all: as the lookups see it (nMinor
// aside) it is not the invalid value. A type without one matches no runtime
// identifier lookup and conflicts with no other type.
constexpr bool hasRuntimeIdentity(const RTTypeID& rt) {
    return !sameRuntimeIdentity(rt, RTTYPEID_INVALID);
}

// Type class: signed 32-bit on every interface.
using TypeClass = int32_t;
enum : TypeClass {
    TC_Device = 0,
    TC_TObject = 1,
    TC_Package = 2,
    TC_ProcessingUnit = 3,
    TC_Program = 4,
    TC_SubObj = 5,
    TC_ProjectGlobal = 6,
    TC_Library = 7,
    TC_GenericObject = 8,
    TC_NotInstalled = 32767, // the class reported for a type that is not installed
};

constexpr bool isTypeClass(TypeClass c) {
    return c >= TC_Device && c <= TC_GenericObject;
}

// The element name of a class in the classification document ("Device", ...);
// null for a value that is not a class.
constexpr const char* typeClassName(TypeClass c) {
    constexpr const char* names[] = {"Device",         "TObject", "Package",
                                     "ProcessingUnit", "Program", "SubObj",
                                     "ProjectGlobal",  "Library", "GenericObject"};
    return isTypeClass(c) ? names[c] : nullptr;
}
