// CIsBaseInstallEntry: the in-memory record of one installed type.
//
// The type container owns one entry per installed type, keyed by the type
// identifier (the entry does not know its key). An entry holds the type's
// names, class, the CLSID of its type object, its runtime identifier, its
// snap-ins, extension types and free attributes, and a cache slot for the
// live type object.
//
//   std::unique_ptr<CIsBaseInstallEntry> e = createEntry(TC_Device);  // null for a non-class
//   e->addSnapIn(clsidView);            // the first snap-in becomes the default
//   e->setOrAddAttr(u"BI_ORDER", u"3"); // "BI_"/"PBI_" names only; "BI_" marks a refresh
//
// Every operation returns a code of ResultCodes.h (0 = success) and traces
// its failures (source "is_data"). A failed operation leaves the entry as it
// was, except onGetResidentData of technology objects, which keeps the
// runtime identifier it read before a later step failed.
//
// Cache slot, three states:
//   empty  m_spTypeObject null, m_weakRef false
//   held   pointer with one reference owned by the entry
//   weak   pointer without a reference: the object lives through outside
//          holders only and empties the slot itself when it dies
// setTypeObject(p) empty->held, makeWeak() held->weak, setTypeObject(null)
// held/weak->empty. Every slot access stamps m_lastUse with the tick count.
//
// Not thread-safe: used only under the container's owner.
#pragma once

#include "base/falloc/String.h"
#include "co/CCoTraceRecord.h"
#include "h/IMC_TypeObject.h"
#include "h/ResultCodes.h"
#include "h/TypeIdent.h"
#include "platform/com/Bstr.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

class FsSecCl;

using AttrMap = std::map<std::u16string, std::u16string>;
using AttrList = std::vector<std::pair<std::u16string, std::u16string>>;

struct CIsExtTypeInfo {
    String name;
    CLSID clsid;
};

class CIsBaseInstallEntry {
public:
    explicit CIsBaseInstallEntry(TypeClass typeClass) : m_typeClass(typeClass) {}
    virtual ~CIsBaseInstallEntry();
    CIsBaseInstallEntry(const CIsBaseInstallEntry&) = delete;
    CIsBaseInstallEntry& operator=(const CIsBaseInstallEntry&) = delete;

    // The entry as stored in the type section (the same for every class; the
    // class and the type identifier are written by the container in front):
    // name, runtime identifier, CLSID, default snap-in, snap-ins,
    // extension types, attributes, with the spaces stored files carry.
    // Writers never fail by themselves; a failing stream shows in its state.
    virtual void write(FsSecCl& sec) const;
    // Reads what write wrote. Failures show in the stream state only; a
    // list or map that holds fewer elements than its count announced (a
    // repeated key) sets state 18. Reads nothing while the state is bad.
    virtual void read(FsSecCl& sec);

    // Copies type data from a freshly created type object. The base reads nothing.
    virtual DWORD onGetResidentData(IUnknown* pITypeObject);
    // Attribute names must begin with "BI_" or "PBI_" (case-sensitive); 12 otherwise.
    virtual DWORD checkAttr(const std::u16string& name, const std::u16string& value);

    // Snap-ins: insertion order, no duplicates.
    DWORD addSnapIn(const CLSID& clsid);
    DWORD removeSnapIn(const CLSID& clsid);
    DWORD setDefaultSnapIn(const CLSID& clsid);
    DWORD getDefaultSnapIn(CLSID& out) const; // 44 with all-0xFF when the list is empty

    // Attributes (wide strings), kept in code-unit order of their names.
    DWORD setOrAddAttr(const std::u16string& name, const std::u16string& value);
    DWORD delAttr(const std::u16string& name);
    DWORD getAttr(const std::u16string& name, BSTR* out) const; // REQUIRES: out != null
    DWORD getAttrList(AttrList& out) const;                     // appends copies

    // Extension types. prjHdl is the project handler (answers IMC_InternalProjectHdl).
    DWORD addExtType(const String& name, const CLSID& extClsid, IUnknown* pIPrjHdl);
    // addExtType in its three steps, for a caller that must not hold the
    // entry while the extension object is made: checkNewExtType refuses a
    // name or CLSID already listed (4); createExtType makes the object
    // through the project handler and reads its type identifier, touching no
    // entry; insertExtType lists it (4 when the identifier is listed).
    DWORD checkNewExtType(const String& name, const CLSID& extClsid) const;
    static DWORD createExtType(const String& name, const CLSID& extClsid, IUnknown* pIPrjHdl,
                               GUID& extTypeId);
    DWORD insertExtType(const String& name, const CLSID& extClsid, const GUID& extTypeId);
    DWORD delExtType(const GUID& extTypeId);
    DWORD getExtType(IMC_TypeIdent* pITypeIdent, const GUID& extTypeId, IUnknown* pIPrjHdl,
                     IUnknown** out);
    DWORD getExtTypeName(const GUID& extTypeId, String& out) const;
    std::vector<GUID> getExtTypeList() const;
    bool isExtType(const GUID& extTypeId) const { return m_extTypes.count(extTypeId) != 0; }

    // Cache slot.
    void getTypeObject(IUnknown** out); // out gets a new reference (or null)
    void setTypeObject(IUnknown* pIUnk);
    void makeWeak();

    // Tick source of m_lastUse (GetTickCount by default); tests replace it.
    using TickSource = DWORD (*)();
    static TickSource setTickSource(TickSource source) noexcept;
    static DWORD currentTick() noexcept;

    CLSID m_clsid = GUID_NULL;
    String m_name;
    TypeClass m_typeClass;
    RTTypeID m_rtTypeID = RTTYPEID_INVALID;
    CLSID m_defaultSnapIn = GUID_NOTYPE;
    std::vector<CLSID> m_snapIns;
    std::map<GUID, CIsExtTypeInfo> m_extTypes;
    AttrMap m_attributes;
    IUnknown* m_spTypeObject = nullptr;
    bool m_weakRef = false;
    DWORD m_lastUse = 0;
    bool m_needsRefresh = false;

protected:
    // Reads the runtime identifier through IMC_RTTypeIdent into out.
    static bool readRuntimeId(IUnknown* pITypeObject, RTTypeID& out, CCoTraceRecord& rec);
};

// One entry in the stream, through its write and read.
FsSecCl& operator<<(FsSecCl& sec, const CIsBaseInstallEntry& entry);
FsSecCl& operator>>(FsSecCl& sec, CIsBaseInstallEntry& entry);

// A new, empty entry of the class (0..8); null for any other value.
std::unique_ptr<CIsBaseInstallEntry> createEntry(TypeClass typeClass);

// Creates the reverse object (of class clsid) that wraps an OEM extension
// object and hands it the extension as its outer interface. On failure *out
// is null. E_INVALIDARG for a null pointer.
HRESULT createOEMReverseObject(IUnknown* pIUnkOut, IUnknown* pIHdl, IUnknown** out,
                               const CLSID& clsid);
