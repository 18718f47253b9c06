// What describing the installed types needs from the installation that owns
// the classification document: the type objects, the lookup of a type by its
// runtime identifier, the types' attributes and the configuration directory.
// CZEBIntInstallation answers it; the XML layer stays free of the containers.
#pragma once

#include "h/TypeIdent.h"
#include "platform/com/Bstr.h"
#include "platform/com/Unknown.h"

#include <string>

struct TypeDescriptionSource {
    // The type object of an installed type, with a reference (0, or the type
    // container's code).
    virtual DWORD createTypeObject(const GUID& typeId, IUnknown** object) = 0;
    // The installed type with this runtime identifier; GUID_NOTYPE when none.
    virtual GUID findTypeByRuntimeId(const RTTypeID& rtId) = 0;
    // The value of a type's attribute, as the installation's
    // getAttributeByTypeID answers it (HRESULT and result word).
    virtual HRESULT typeAttribute(const GUID& typeId, BSTR key, BSTR* value, DWORD* pRet) = 0;
    // Where the PD-files and the stylesheets are; empty when not configured.
    virtual std::string configurationDirectory() = 0;

protected:
    ~TypeDescriptionSource() = default;
};
