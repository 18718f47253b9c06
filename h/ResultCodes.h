// Result codes of the registry and of the installation operations.
//
// Container operations return small unsigned codes (0 = success). Interface
// operations return an HRESULT that says whether the call was well formed
// and write a second word, pRet, that says what the installation did:
//
//   DWORD code = m_typeCont.removeType(id);        // e.g. IS_NOT_PRESENT (10)
//   *pRet = translateRet(code);                    // 0xBE02000A
//
// Access codes guard the internal operations on type storage and caches; any
// other value is refused with PRET_PROTECTION.
#pragma once

#include "platform/win/WinTypes.h"

// Registry and classification codes.
enum : DWORD {
    IS_OK = 0,
    IS_NAME_RULE = 3,       // duplicate name, name without version, no name
    IS_ALREADY_PRESENT = 4, // duplicate snap-in, extension, CLSID, identifier
    IS_NOT_FOUND = 5,       // snap-in, attribute, extension type
    IS_NO_INTERFACE = 6,    // interface missing, or object in use
    IS_NOT_ATTRIBUTE = 9,   // query result is not an attribute
    IS_TYPE_ID = 10,        // type identifier absent, present or conflicting
    IS_INVALID_ATTR = 12,   // invalid attribute name or type class
    IS_NOT_IN_DOCUMENT = 13,
    IS_NOT_CREATED = 22, // object not created
    IS_EXT_NAME_MISMATCH = 25,
    IS_IMPORT_READ = 27,
    IS_QUERY_PLACEHOLDER = 29,
    IS_EMPTY = 44, // empty list or no match
    IS_WRONG_CLASS = 56,
    IS_MEMORY_LOW = 99,
    IS_INTERNAL = 0xFFFF,
};

// pRet values of the installation operations.
constexpr DWORD PRET_BASE = 0xBE020000u;
enum : DWORD {
    PRET_NOT_INSTALLED = 0xBE020001u, // getTypeClass of an unknown identifier
    PRET_NO_SUCH_NAME = 0xBE020003u,  // getTypeIdBy...: no type of that name
    PRET_INVALID_ID = 0xBE020005u,    // invalid type or runtime type identifier
    PRET_SAVE_FAILED = 0xBE020006u,   // also: type storage not accessible
    PRET_NOT_REMOVED = 0xBE020007u,   // type object not removed from the cache
    PRET_NO_NAME = 0xBE02000Au,       // getTypeName...: identifier has no name
    PRET_BAD_CLASS = 0xBE02000Cu,     // class outside the accepted set
    PRET_PROTECTION = 0xBE020010u,    // access code refused
    PRET_PROGRAM_TYPE = 0xBE020038u,  // removeType on a program type
    PRET_FAILURE = 0xBE02FFFFu,       // general failure
    PRET_TIMER_FAILED = 0x0000FFFFu,  // setTypeStorage: written, timer not started
};

// A nonzero code below 0x10000 becomes 0xBE020000 | code; larger codes pass
// unchanged; 0 stays 0.
constexpr DWORD translateRet(DWORD code) {
    return code == 0 ? 0 : code < 0x10000u ? (PRET_BASE | code) : code;
}

// Access codes of the internal operations.
enum : DWORD {
    ACCESS_TYPE_STORAGE = 0x6D4E2A91u,  // getTypeStorage, setTypeStorage, removeTypeObjectFromCache
    ACCESS_NATIVE_OBJECT = 0x3B7C5E08u, // createNativeTypeObject
    ACCESS_CLEAR_CACHE = 0x2A95C4D3u,   // clearTypeCache (also accepted by getClsidByToolTypeID)
    ACCESS_TOOL_CLSID = 0x71E8B036u,    // getClsidByToolTypeID
};

// Access flags handed to extension objects with setObjTypeAccess.
constexpr DWORD ESProtectExtHndl = 0x5C3A17E4u;
