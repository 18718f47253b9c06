// CIsToolInstallEntry: the in-memory record of one installed tool.
//
// The tool container owns one entry per tool, keyed by the tool type
// identifier (the entry does not know its key). It holds the CLSID of the
// tool object, the version-dependent tool name and the installer's value,
// which is stored and persisted unchanged.
//
//   CIsToolInstallEntry e;
//   e.m_name = "Trace.1.0";
//   e.m_clsid = clsidTrace;
//   sec << e;                      // "9 Trace.1.0 {...}  0"
//
// Stored form (write, read back by read): name (narrow string), a space, the
// CLSID (a GUID and its own space), a space, the value (unsigned decimal).
// Installation files hold these bytes: the order and the spaces are fixed.
//
// The object slot is never filled by the container (tool objects are made
// anew for every request); it is released by the destructor and by
// releaseObject. Not thread-safe: used only under the container's owner.
#pragma once

#include "base/falloc/String.h"
#include "platform/com/ComPtr.h"
#include "platform/com/Guid.h"

class FsSecCl;

class CIsToolInstallEntry {
public:
    CIsToolInstallEntry() = default;
    virtual ~CIsToolInstallEntry();
    CIsToolInstallEntry(const CIsToolInstallEntry&) = delete;
    CIsToolInstallEntry& operator=(const CIsToolInstallEntry&) = delete;

    // The stored form; a failing stream shows in its state only.
    virtual void write(FsSecCl& sec) const;
    virtual void read(FsSecCl& sec);

    // Empties the object slot. The object may die here and call back: the
    // caller must not rely on the entry afterwards when that can remove it.
    void releaseObject() { m_spToolObject.Release(); }

    ComPtr<IUnknown> m_spToolObject;
    CLSID m_clsid = GUID_NULL;
    String m_name;
    DWORD m_value = 0;
};

// Dispatch to the entry's write and read.
FsSecCl& operator<<(FsSecCl& sec, const CIsToolInstallEntry& entry);
FsSecCl& operator>>(FsSecCl& sec, CIsToolInstallEntry& entry);
