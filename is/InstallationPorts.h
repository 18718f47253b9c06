// The collaborators of the core installation object that live in other
// parts of the system: the installation file and its save, the tool
// container, and the exchange of type data. The
// installation calls them through these small interfaces; each is optional,
// and an installation without one answers as documented at each operation.
//
//   auto tools = std::make_shared<MyToolContainer>();
//   installation->setTools(tools);   // addTool now reaches the tool container
//
// Codes are those of ResultCodes.h (0 = success). Called on the
// installation's thread only.
#pragma once

#include "h/TypeIdent.h"

#include <string>

struct IStorage;
struct IUnknown;

namespace zeb {

// The installation file: its save and the private storage of each type.
struct InstallationStorePort {
    // Runs the save (forced: write now, else as the settings say). True on success.
    virtual bool save(bool forced) = 0;
    virtual bool isFileOpen() const = 0;
    // A copy of the type's private storage in a new memory-backed storage
    // (0, or a pRet value). REQUIRES: isFileOpen().
    virtual DWORD copyTypeStorage(const GUID& typeId, IStorage** out) = 0;
    // Replaces the type's private storage by a copy of source and starts the
    // save timer (0, or a pRet value). REQUIRES: isFileOpen().
    virtual DWORD replaceTypeStorage(const GUID& typeId, IStorage* source) = 0;

protected:
    ~InstallationStorePort() = default;
};

// The tool container.
struct ToolRegistryPort {
    virtual DWORD addTool(const GUID& toolTypeId, const std::u16string& name, const CLSID& clsid,
                          DWORD value) = 0;
    virtual DWORD removeTool(const GUID& toolTypeId) = 0;
    virtual DWORD getClsidByID(const GUID& toolTypeId, CLSID& out) = 0;
    virtual DWORD getToolByID(const GUID& toolTypeId, IUnknown** out) = 0;
    virtual bool isTool(const GUID& toolTypeId) const = 0;
    virtual void clearToolCache() = 0;

protected:
    ~ToolRegistryPort() = default;
};

// Export and import of the data of single types between installations.
struct TypeDataExchangePort {
    virtual DWORD exportTypeData(const GUID& typeId, IStorage** out) = 0; // a pRet value
    virtual DWORD importTypeData(IStorage* source) = 0;                   // a pRet value

protected:
    ~TypeDataExchangePort() = default;
};

} // namespace zeb
