// CIsToolCont: the registry of installed tools.
//
// An ordered map from tool type identifier (GUID order) to owned tool entry,
// and a modified flag for the owner's save logic. A tool is entered with its
// name, the CLSID of its tool object and the installer's value; names must be
// version dependent ("Trace.1.0") and, like CLSIDs and identifiers, unique
// (names without regard to case, A-Z folded).
//
//   CIsToolCont tools;                                   // empty, modified
//   DWORD r = tools.addTool(id, u"Trace.1.0", clsid, 7); // 0 or a code
//   ComPtr<IUnknown> tool;
//   r = tools.getToolByID(id, &tool);                    // a new object every call
//   sec << tools;                                        // the tool section
//
// Codes (ResultCodes.h): 0 success; 1 tool absent (getClsidByID,
// getToolByID); 3 name not version dependent; 4 identifier, name or CLSID
// present; 10 tool absent (removeTool, createToolObject); 22 tool object not
// created; 0xFFFF null argument or inconsistent call. A failed addTool
// leaves the map and the modified flag unchanged. Every failure is traced
// (source "is_data", "CIsToolCont::<operation>").
//
// A tool whose object cannot be created yet is still entered: the component
// may be registered later. Tool objects are outside code; creating or
// releasing one may call back into the container (add or remove tools,
// clear it), so no entry pointer or map position is held across such a call.
//
// Stored form (operator <<, read by operator >>): the count, a space, then
// per tool in GUID order the identifier (a GUID and its own space), a space,
// the entry (CIsToolInstallEntry), a space. Installation files hold these
// bytes. The reader replaces the content; it reports success only through
// the stream state, which the caller tests.
//
// Not thread-safe: the owner serialises all calls (apartment rule).
#pragma once

#include "h/TypeIdent.h"
#include "is/CIsToolInstallEntry.h"
#include "platform/com/Unknown.h"

#include <map>
#include <memory>
#include <string>

class FsSecCl;

class CIsToolCont final {
public:
    using EntryMap = std::map<GUID, std::unique_ptr<CIsToolInstallEntry>>;

    CIsToolCont();
    ~CIsToolCont();
    CIsToolCont(const CIsToolCont&) = delete;
    CIsToolCont& operator=(const CIsToolCont&) = delete;

    bool isModified() const { return m_bModified; }
    void setModified(bool modified) { m_bModified = modified; }

    // The operations the installation calls.
    DWORD addTool(const GUID& toolTypeId, const std::u16string& name, const CLSID& clsid,
                  DWORD value);
    DWORD removeTool(const GUID& toolTypeId);
    DWORD getClsidByID(const GUID& toolTypeId, CLSID& out);
    // *out gets a new tool object (the caller owns the reference) or null.
    DWORD getToolByID(const GUID& toolTypeId, IUnknown** out);
    bool isTool(const GUID& toolTypeId) const { return m_tools.count(toolTypeId) != 0; }
    void clearToolCache();

    // Destroys every entry and sets the modified flag.
    void clear();

    // Creates the tool object of entry (not installed yet) or, with a null
    // entry, of the installed tool toolTypeId.
    DWORD createToolObject(const GUID& toolTypeId, const CIsToolInstallEntry* entry,
                           IUnknown** out);
    // *out: the object made from the entry's CLSID, or null (traced).
    void internalCreateTypeObject(IUnknown** out, const CIsToolInstallEntry* entry);
    DWORD checkEntryTypeName(const CIsToolInstallEntry* entry) const;
    DWORD checkEntryCLSID(const CIsToolInstallEntry* entry) const;

    // Inserts an entry built elsewhere (the stream reader); no rule is
    // checked and the modified flag stays. 4 when the identifier is present,
    // 0xFFFF for a null entry.
    DWORD insertEntry(const GUID& toolTypeId, std::unique_ptr<CIsToolInstallEntry> entry);

    size_t size() const { return m_tools.size(); }
    const CIsToolInstallEntry* findEntry(const GUID& toolTypeId) const;
    // Every entry in GUID order (for the stream writer and for inspection).
    const EntryMap& entries() const { return m_tools; }

private:
    EntryMap m_tools;
    bool m_bModified = true;
};

// The tool section. The reader clears the container first (setting the
// modified flag), stops at the first bad stream state and keeps the tools
// read so far; a count that does not match what was read is traced.
FsSecCl& operator<<(FsSecCl& sec, const CIsToolCont& tools);
FsSecCl& operator>>(FsSecCl& sec, CIsToolCont& tools);
