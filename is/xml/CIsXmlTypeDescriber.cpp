#include "is/xml/CIsXmlTypeDescriber.h"

#include "h/IMC_TypeDescription.h"
#include "h/IMC_TypeObject.h"
#include "is/isacx/CIsAcxReader.h"
#include "is/xml/ClassificationCalls.h"
#include "platform/com/Guid.h"
#include "platform/com/TaskAllocator.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"

#include <sys/stat.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

using zeb::Bstr;
using zeb::Variant;
using zeb::classification::appendTraced;
using zeb::classification::callOrFail;
using zeb::classification::kFailed;
using zeb::xml::DomDocument;
using zeb::xml::DomElement;
using zeb::xml::DomNode;

namespace {

constexpr const char* kSource = "is_xml";
constexpr DWORD kOk = 0;
constexpr DWORD kNoTypeElement = 13;

// ---- lists handed over in task memory

void releaseEntry(ZEB_SubObjectEntry& e) {
    CoTaskMemFree(e.lpszName);
}
void releaseEntry(ZEB_ConnectorProps& e) {
    CoTaskMemFree(e.lpszName);
}
void releaseEntry(ZEB_OAApplDetails& e) {
    CoTaskMemFree(e.lpszOAApplSymbol);
}
void releaseEntry(RTTypeID&) {}
void releaseEntry(DWORD&) {}

// A list a description interface hands over: the array and the strings in
// its entries are freed with it, also after a failed call.
template <class T> struct TaskList {
    DWORD count = 0;
    T* items = nullptr;

    TaskList() = default;
    TaskList(const TaskList&) = delete;
    TaskList& operator=(const TaskList&) = delete;
    ~TaskList() { reset(); }
    void reset() {
        if (items) {
            for (DWORD i = 0; i < count; ++i)
                releaseEntry(items[i]);
            CoTaskMemFree(items);
        }
        items = nullptr;
        count = 0;
    }
    // A count without an array has no entries.
    std::span<T> entries() const { return items ? std::span<T>(items, count) : std::span<T>(); }
};

// The strings of an SD header, freed with it.
struct SDHeader : ZEB_SDHeaderDetails {
    SDHeader() : ZEB_SDHeaderDetails{} {}
    SDHeader(const SDHeader&) = delete;
    SDHeader& operator=(const SDHeader&) = delete;
    ~SDHeader() {
        CoTaskMemFree(lpszName);
        CoTaskMemFree(pRanges);
    }
    std::span<ZEB_OACompatibleRange> ranges() const {
        return pRanges ? std::span<ZEB_OACompatibleRange>(pRanges, dwRangeCount)
                       : std::span<ZEB_OACompatibleRange>();
    }
};

std::u16string wide(const OLECHAR* text) {
    return text ? std::u16string(text) : std::u16string();
}

bool sameRuntimeId(const RTTypeID& a, const RTTypeID& b) {
    return a.guidVersion == b.guidVersion && a.nMajor == b.nMajor && a.nMinor == b.nMinor;
}

// The interface `object` offers, or null; an object that throws on the
// question offers nothing.
template <class I> ComPtr<I> offered(IUnknown* object) {
    ComPtr<I> result;
    try {
        if (FAILED(object->QueryInterface(uuidof<I>(), reinterpret_cast<void**>(&result))))
            result = nullptr;
    } catch (...) {
        result = nullptr;
    }
    return result;
}

// The description of one type: the blocks write under its class element.
// Each block answers 0 to go on, or the code that ends the refresh.
class TypeDescription {
public:
    TypeDescription(CCoTraceRecord& rec, DomDocument& doc, DomElement& typeElement,
                    DomElement& esType, const GUID& typeId, IUnknown* object,
                    TypeDescriptionSource& source)
        : m_rec(rec), m_doc(doc), m_type(typeElement), m_esType(esType), m_typeId(typeId),
          m_object(object), m_source(source) {}

    DWORD describe() {
        if (DWORD r = runtimeIdentity()) return r;
        if (DWORD r = subObjects()) return r;
        if (DWORD r = connectors()) return r;
        if (DWORD r = technologyObjects()) return r;
        if (DWORD r = sdNavigation()) return r;
        if (DWORD r = packageFeatures()) return r;
        if (DWORD r = objectClassification()) return r;
        return pdFile();
    }

private:
    // ---- building blocks

    // The registry text of `id`, or false after the traces.
    bool format(const GUID& id, std::u16string& text) {
        zeb::TaskMem<OLECHAR> formatted;
        HRESULT hr = callOrFail(m_rec, "StringFromCLSID(guid, &lpszGuid)",
                                [&] { return StringFromCLSID(id, zeb::outPtr(formatted)); });
        if (FAILED(hr) || !formatted) return false;
        text.assign(formatted.get());
        return true;
    }

    // Sets an attribute to a typed value; false after the traces.
    // The traced text names the attribute; it is made only on a failure,
    // since a refresh sets some ten attributes per type.
    bool set(DomElement& element, const char16_t* name, const VARIANT& value,
             zeb::SourceLocation where = zeb::SourceLocation::current()) {
        try {
            element.setAttribute(name, value);
            return true;
        } catch (...) {
            const std::string text = "spElem->setAttribute(\"" + zeb::toNarrow(name) + "\", value)";
            zeb::detail::onCallException(m_rec, text.c_str(), CatchText::Exception, where.line());
            zeb::detail::onCallFailureRet(m_rec, text.c_str(), E_FAIL, kFailed, where.line());
            return false;
        }
    }
    bool set(DomElement& element, const char16_t* name, std::u16string_view value) {
        return set(element, name, Variant(value));
    }
    bool setGuid(DomElement& element, const char16_t* name, const GUID& id) {
        std::u16string text;
        return format(id, text) && set(element, name, text);
    }
    // RTID, RTMajor and RTMinor (or the names given) of a runtime identifier.
    bool setRuntimeId(DomElement& element, const RTTypeID& id, const char16_t* guidName = u"RTID",
                      const char16_t* majorName = u"RTMajor",
                      const char16_t* minorName = u"RTMinor") {
        return setGuid(element, guidName, id.guidVersion) &&
               set(element, majorName, Variant(USHORT(id.nMajor))) &&
               set(element, minorName, Variant(USHORT(id.nMinor)));
    }

    DomElement create(const char16_t* name) { return m_doc.createElement(name); }

    // The child `name` of the class element; created and appended at once
    // when missing. `appended` is false when that append gave no node.
    DomElement findOrCreate(const char16_t* name, bool& appended) {
        appended = true;
        DomElement found = m_type.selectSingleNode(name).asElement();
        if (found) return found;
        DomElement created = create(name);
        appended = bool(appendTraced(m_rec, m_type, created));
        return created;
    }
    // As findOrCreate for the children whose failed append ends the refresh.
    bool requireChild(const char16_t* name, DomElement& out) {
        bool appended = false;
        out = findOrCreate(name, appended);
        return appended;
    }

    void removeChildren(const char16_t* name) {
        for (DomNode& child : m_type.selectNodes(name))
            m_type.removeChild(child);
    }

    // ---- the blocks

    DWORD runtimeIdentity() {
        ComPtr<IMC_RTTypeIdent> spI = offered<IMC_RTTypeIdent>(m_object);
        if (!spI) return kOk;
        RTTypeID id{};
        if (FAILED(callOrFail(m_rec, "spRTTypeIdent->getRTTypeID(&rtTypeID)",
                              [&] { return spI->getRTTypeID(&id); })))
            return kFailed;
        return setRuntimeId(m_esType, id) ? kOk : kFailed;
    }

    DWORD subObjects() {
        ComPtr<IMC_SubObjects> spI = offered<IMC_SubObjects>(m_object);
        if (!spI) return kOk;
        TaskList<ZEB_SubObjectEntry> list;
        if (FAILED(
                callOrFail(m_rec, "spSubObjects->getSubObjectEntryList(&lSize, &pSubObjects)",
                           [&] { return spI->getSubObjectEntryList(&list.count, &list.items); })))
            return kFailed;
        if (list.count == 0) return kOk; // an existing list stays
        removeChildren(u"SubObj");
        LONG index = 0;
        for (const ZEB_SubObjectEntry& e : list.entries()) {
            DomElement sub = create(u"SubObj");
            if (!set(sub, u"Id", Variant(INT(index++))) || !set(sub, u"Name", wide(e.lpszName)) ||
                !set(sub, u"Addr", Variant(UINT(e.objAddr))) || !setGuid(sub, u"ESID", e.typeID))
                return kFailed;
            appendTraced(m_rec, m_type, sub);
        }
        return kOk;
    }

    DWORD connectors() {
        ComPtr<IMC_ConnectorProps> spI = offered<IMC_ConnectorProps>(m_object);
        if (!spI) return kOk;
        TaskList<ZEB_ConnectorProps> list;
        DWORD ret = 0;
        HRESULT hr = guardedCall(
            m_rec,
            "spConnectorProps->getConnectorPropsList( &spConnectors.changeSize(), "
            "&spConnectors.changePtr(), &dwRet)",
            [&] { return spI->getConnectorPropsList(&list.count, &list.items, &ret); },
            CatchText::Exception);
        if (FAILED(hr)) return ret ? ret : kFailed;
        if (list.count > 0) removeChildren(u"Connectors");
        DomElement all = create(u"Connectors");
        appendTraced(m_rec, m_type, all);
        for (const ZEB_ConnectorProps& e : list.entries()) {
            DomElement c = create(u"Connector");
            if (!set(c, u"Id", Variant(UINT(e.ifID))) || !set(c, u"Name", wide(e.lpszName)) ||
                !setGuid(c, u"Interface", e.guidType) ||
                !set(c, u"Incoming", Variant(e.bIncoming != 0)) ||
                !set(c, u"Outgoing", Variant(e.bOutgoing != 0)) ||
                !set(c, u"Remote", Variant(e.bRemote != 0)) ||
                !set(c, u"Multipoint", Variant(e.bMultipoint != 0)) ||
                !set(c, u"Required", Variant(e.bNecessary != 0)) ||
                !set(c, u"ExclusiveGroup", Variant(USHORT(e.nExclusiveGroup))) ||
                !set(c, u"Major", Variant(USHORT(e.version.nMajor))) ||
                !set(c, u"Minor", Variant(USHORT(e.version.nMinor))))
                return kFailed;
            appendTraced(m_rec, all, c);
        }
        return kOk;
    }

    DWORD technologyObjects() {
        ComPtr<IMC_TPTNavigate> spI = offered<IMC_TPTNavigate>(m_object);
        if (!spI) return kOk;
        TaskList<RTTypeID> list;
        DWORD ret = 0;
        HRESULT hr = guardedCallRet(
            m_rec, "spTPTNavigate->getTObjectTypeRTIDList(&lSize, &pRTTypeIDs, &dwRet)", ret,
            [&] { return spI->getTObjectTypeRTIDList(&list.count, &list.items, &ret); },
            CatchText::Exception);
        if (FAILED(hr) || ret != 0) return ret ? ret : kFailed;
        if (list.count == 0) return kOk;
        DomElement contents;
        if (!requireChild(u"Contents", contents)) return kFailed;
        for (const RTTypeID& rt : list.entries()) {
            DomElement content = create(u"Content");
            if (!set(content, u"Type", u"TO") || !setRuntimeId(content, rt)) return kFailed;
            // Only a type that is installed gets its identifier written: the
            // lookup answers the no-type identifier (or, from older
            // containers, the null one) for the others.
            const GUID esId = m_source.findTypeByRuntimeId(rt);
            if (!isNoType(esId) && esId != GUID_NULL && !setGuid(content, u"ESID", esId))
                return kFailed;
            appendTraced(m_rec, contents, content);
        }
        return kOk;
    }

    DWORD sdNavigation() {
        ComPtr<IMC_SDNavigate> spI = offered<IMC_SDNavigate>(m_object);
        if (!spI) return kOk;
        if (!m_type.selectSingleNode(u"Classification")) {
            DomElement classification = create(u"Classification");
            if (!appendTraced(m_rec, m_type, classification)) return kFailed;
            DomElement group = create(u"ESTypeGroup");
            if (!set(group, u"value", u"Drives")) return kFailed;
            classification.appendChild(group);
            DomElement subGroup = create(u"ESTypeSubGroup");
            if (!set(subGroup, u"value", u"Velantis")) return kFailed;
            classification.appendChild(subGroup);
        }
        DomElement contents;
        if (!requireChild(u"Contents", contents)) return kFailed;

        SDHeader header;
        DWORD ret = 0;
        HRESULT hr = guardedCallRet(
            m_rec, "spSDNavigate->getSDHeaderDetails(&spHeaderDetails, &dwRet)", ret,
            [&] { return spI->getSDHeaderDetails(&header, &ret); }, CatchText::Exception);
        if (FAILED(hr) || ret != 0) return kOk; // ends this block only
        if (header.dwKind == 0) return sdContent(header, contents);
        if (header.dwKind == 1) return oaContents(*spI, contents);
        return kOk;
    }

    DWORD sdContent(const SDHeader& header, DomElement& contents) {
        DomElement content = create(u"Content");
        if (!set(content, u"Type", u"SD") || !set(content, u"Name", wide(header.lpszName)) ||
            !set(content, u"Version", Variant(UINT(header.dwVersion))) ||
            !set(content, u"OAInterfaceVersion", Variant(UINT(header.dwInterfaceVersion))))
            return kFailed;
        for (const ZEB_OACompatibleRange& range : header.ranges()) {
            DomElement r = create(u"OACompatibleRange");
            if (!set(r, u"MinVersion", Variant(UINT(range.dwMinVersion))) ||
                !set(r, u"MaxVersion", Variant(UINT(range.dwMaxVersion))))
                return kFailed;
            appendTraced(m_rec, content, r);
        }
        appendTraced(m_rec, contents, content); // a failure ends the block all the same
        return kOk;
    }

    // The applications selected by `selection`; a failed call is traced and
    // what came back (normally nothing) is used.
    void applications(IMC_SDNavigate& nav, const ZEB_OAApplSelection& selection,
                      TaskList<ZEB_OAApplDetails>& list) {
        DWORD ret = 0;
        guardedCallRet(
            m_rec,
            "spSDNavigate->getApplicationTypeDetailsList(0, &selection, &lSize, &pApplDetails, "
            "&dwRet)",
            ret,
            [&] {
                return nav.getApplicationTypeDetailsList(0, &selection, &list.count, &list.items,
                                                         &ret);
            },
            CatchText::Exception);
    }

    DWORD oaContents(IMC_SDNavigate& nav, DomElement& contents) {
        const ZEB_OAApplSelection all{};
        TaskList<ZEB_OAApplDetails> apps;
        applications(nav, all, apps);
        for (const ZEB_OAApplDetails& app : apps.entries()) {
            DomElement content = create(u"Content");
            if (!set(content, u"Type", u"OA") ||
                !set(content, u"Name", wide(app.lpszOAApplSymbol)) ||
                !setRuntimeId(content, app.rtID) ||
                !set(content, u"InterfaceVersion", Variant(UINT(app.dwInterfaceVersion))) ||
                !set(content, u"Version", Variant(UINT(app.dwVersion))))
                return kFailed;
            appendTraced(m_rec, contents, content);

            TaskList<DWORD> classes;
            DWORD ret = 0;
            HRESULT hr = guardedCallRet(
                m_rec,
                "spSDNavigate->getApplicationSupportedDOClasses(0, rtID, &lSize, &pDOClasses, "
                "&dwRet)",
                ret,
                [&] {
                    return nav.getApplicationSupportedDOClasses(0, app.rtID, &classes.count,
                                                                &classes.items, &ret);
                },
                CatchText::Exception);
            if (FAILED(hr) || ret != 0) continue;
            for (DWORD doClass : classes.entries()) {
                ZEB_OAApplSelection selection{};
                selection.dwType = doClass;
                TaskList<ZEB_OAApplDetails> ofClass;
                applications(nav, selection, ofClass);
                for (const ZEB_OAApplDetails& entry : ofClass.entries()) {
                    DomElement oaApp = create(u"OAApp");
                    if (!set(oaApp, u"DOClass", Variant(UINT(doClass))) ||
                        !setRuntimeId(oaApp, entry.rtID))
                        return kFailed;
                    appendTraced(m_rec, content, oaApp);
                }
            }
        }
        return kOk;
    }

    DWORD packageFeatures() {
        ComPtr<IMC_TPackageType> spI = offered<IMC_TPackageType>(m_object);
        if (!spI) return kOk;
        DWORD flags = 0, ret = 0;
        HRESULT hr = guardedCallRet(
            m_rec, "spTPackageType->getFeatures(&dwFlags, &dwRet)", ret,
            [&] { return spI->getFeatures(&flags, &ret); }, CatchText::Exception);
        if (FAILED(hr) || ret != 0) return ret ? ret : kFailed;
        if ((flags & 3) == 0) return kOk;
        bool appended = false;
        DomElement contents = findOrCreate(u"Contents", appended); // a failed append goes on
        // DCC before ST: queries that take the first content of a package rely on it.
        for (auto [bit, kind] : {std::pair{2u, u"DCC"}, std::pair{1u, u"ST"}}) {
            if (!(flags & bit)) continue;
            DomElement content = create(u"Content");
            if (!set(content, u"Type", kind)) return kFailed;
            appendTraced(m_rec, contents, content);
        }
        return kOk;
    }

    DWORD objectClassification() {
        ComPtr<IMC_ObjectClassification> spI = offered<IMC_ObjectClassification>(m_object);
        if (!spI) return kOk;
        Bstr group, subGroup;
        uint16_t category = 0, doClass = 0;
        RTTypeID own{}, base{};
        if (FAILED(callOrFail(m_rec, "spObjectClass->getTypeESTypeGroup(&bstrGroup)",
                              [&] { return spI->getTypeESTypeGroup(&group); })) ||
            FAILED(callOrFail(m_rec, "spObjectClass->getTypeESTypeSubGroup(&bstrSubGroup)",
                              [&] { return spI->getTypeESTypeSubGroup(&subGroup); })) ||
            FAILED(callOrFail(m_rec, "spObjectClass->getTypeCategory(&nCategory)",
                              [&] { return spI->getTypeCategory(&category); })) ||
            FAILED(callOrFail(m_rec, "spObjectClass->getTypeClass(&nClass)",
                              [&] { return spI->getTypeClass(&doClass); })) ||
            FAILED(callOrFail(m_rec, "spObjectClass->getRuntimeID(&rtID)",
                              [&] { return spI->getRuntimeID(&own); })) ||
            FAILED(callOrFail(m_rec, "spObjectClass->getRuntimeIDBase(&rtIDBase)",
                              [&] { return spI->getRuntimeIDBase(&base); })))
            return kFailed;
        DomElement classification;
        if (!requireChild(u"Classification", classification)) return kFailed;
        const std::pair<const char16_t*, Variant> values[] = {
            {u"ESTypeGroup", Variant(group.view())},
            {u"ESTypeSubGroup", Variant(subGroup.view())},
            {u"DOCategory", Variant(USHORT(category))},
            {u"DOClass", Variant(USHORT(doClass))},
        };
        for (const auto& [name, value] : values) {
            DomElement e = create(name);
            if (!set(e, u"value", value)) return kFailed;
            appendTraced(m_rec, classification, e);
        }
        if (!sameRuntimeId(base, RTTYPEID_INVALID)) {
            DomElement e = create(u"Base");
            if (!setRuntimeId(e, base, u"GUID", u"Major", u"Minor")) return kFailed;
            appendTraced(m_rec, classification, e);
        }
        return kOk;
    }

    DWORD pdFile() {
        Bstr key(u"BI_TYPE_PDFILENAME");
        Bstr value;
        DWORD ret = 0;
        HRESULT hr = guardedCall(
            m_rec,
            "getAttributeByTypeID(clsidType, _bstr_t(\"BI_TYPE_PDFILENAME\"), &bstrValue, &dwRet)",
            [&] { return m_source.typeAttribute(m_typeId, key, &value, &ret); },
            CatchText::Exception);
        if (FAILED(hr)) ret = kFailed;
        if (ret != 0) return kOk; // no PD-file
        std::string name = zeb::toNarrow(value.view());
        // Stored names may use the backslash of the directories they were
        // registered with.
        std::replace(name.begin(), name.end(), '\\', '/');
        const std::string path = m_source.configurationDirectory() + "/" + name;
        ZEB_TRACE(m_rec, 1, "parse PD-File %s", path.c_str());
        // The reader answers a missing file with an empty header, which
        // would describe the type with values it does not have.
        struct stat st {};
        CIsAcxReader reader;
        if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            reader.init(path.c_str()) != 0) {
            ZEB_TRACE(m_rec, 4, "parsing acx-file %s failed", path.c_str());
            return kFailed;
        }
        const CIsAcxDscHeader& header = reader.header();
        if (header.m_wViewId != 0) {
            DomElement classification;
            if (!requireChild(u"Classification", classification)) return kFailed;
            DomElement view = create(u"DOView");
            if (!set(view, u"value", Variant(USHORT(header.m_wViewId)))) return kFailed;
            appendTraced(m_rec, classification, view);
        }
        DomElement properties = m_type.selectSingleNode(u"Properties").asElement();
        const bool created = !properties;
        if (created) properties = create(u"Properties");
        bool filled = false;
        const std::pair<const char16_t*, int16_t> values[] = {
            {u"ParallelConnectable", header.m_bParallelConnectable},
            {u"DataSetHandling", header.m_bDataSetHandling},
        };
        for (const auto& [name, number] : values) {
            if (number < 0) continue;
            DomElement property = create(u"Property");
            if (!set(property, u"Name", name) || !set(property, u"Value", Variant(SHORT(number))))
                return kFailed;
            if (appendTraced(m_rec, properties, property)) filled = true;
        }
        if (created && filled && !appendTraced(m_rec, m_type, properties)) return kFailed;
        return kOk;
    }

    CCoTraceRecord& m_rec;
    DomDocument& m_doc;
    DomElement& m_type;
    DomElement& m_esType;
    const GUID m_typeId;
    IUnknown* m_object;
    TypeDescriptionSource& m_source;
};

// Clears a flag when the scope ends, however it ends.
struct RunningFlag {
    explicit RunningFlag(bool& flag) : m_flag(flag) { m_flag = true; }
    ~RunningFlag() { m_flag = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;
    bool& m_flag;
};

// The child `name` of `parent`; created and appended (a failed append is
// only traced) when missing.
DomElement skeletonChild(CCoTraceRecord& rec, DomDocument& doc, DomNode& parent,
                         const char16_t* name) {
    DomElement found = parent.selectSingleNode(name).asElement();
    if (found) return found;
    DomElement created = doc.createElement(name);
    appendTraced(rec, parent, created);
    return created;
}

} // namespace

DWORD CIsXmlTypeDescriber::refreshXMLTypeTree() {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::refreshXMLTypeTree");
    if (m_running) {
        // Reached again from a message handled while a type object was made:
        // the refresh under way covers the same types.
        ZEB_TRACE(rec, 4, "refresh already running");
        return kFailed;
    }
    RunningFlag running(m_running);
    // Held for the whole refresh: a load or an exchange of the document
    // meanwhile must not free the nodes worked on.
    DomDocument doc = m_classification.document();
    if (!doc) throw zeb::ComError(E_POINTER, "no classification document");

    DomElement root = skeletonChild(rec, doc, doc, u"Installation");
    DomElement unclassified = skeletonChild(rec, doc, root, u"Unclassified");
    skeletonChild(rec, doc, root, u"Classified");

    std::vector<DomNode> fresh = root.selectNodes(u"New/*");
    size_t done = 0;
    for (DomNode& node : fresh) {
        DomElement typeElement = node.asElement();
        // Removed meanwhile (its type was uninstalled by a call in between).
        DomNode parent = typeElement.parentNode();
        if (!parent) continue;
        parent.removeChild(typeElement);
        appendTraced(rec, unclassified, typeElement);

        DomElement esType = typeElement.selectSingleNode(u"ESType").asElement();
        if (!esType) {
            ZEB_TRACE(rec, 4, "ESType Node not found");
            return kNoTypeElement;
        }
        std::optional<std::u16string> esId = esType.getAttribute(u"ESID");
        if (!esId) {
            ZEB_TRACE(rec, 4, "ESType Node without ESID");
            return kFailed;
        }
        GUID typeId{};
        Bstr idText(*esId);
        if (FAILED(guardedCall(rec, "CLSIDFromString(spVarValue.bstrVal, &clsidType)",
                               [&] { return CLSIDFromString(idText, &typeId); })))
            return kFailed;
        ComPtr<IUnknown> object;
        if (DWORD r = m_source.createTypeObject(typeId, &object)) return r;
        if (!object) return kFailed;
        TypeDescription description(rec, doc, typeElement, esType, typeId, object.get(), m_source);
        if (DWORD r = description.describe()) return r;
        if (m_progress) m_progress(++done, fresh.size());
    }

    DomDocument arranged;
    DWORD r = transformXMLTypeTree(kArrangeStylesheet, arranged);
    if (r != 0) return r;
    m_classification.replaceDocument(std::move(arranged));
    m_classification.clearRefreshNeeded();
    return kOk;
}

DWORD CIsXmlTypeDescriber::transformXMLTypeTree(const std::string& fileName, DomDocument& out) {
    CCoTraceRecord rec(kSource, "CZEBIntInstallation::transformXMLTypeTree");
    ComPtr<IXMLDOMDocument2> dest, xsl;
    Bstr language(u"SelectionLanguage");
    Variant xpath(std::u16string_view(u"XPath"));
    if (FAILED(callOrFail(rec, "spIDOMDest.CoCreateInstance(L\"Msxml2.DOMDocument.3.0\")",
                          [&] { return zeb::classification::createDomDocument(dest); })) ||
        FAILED(callOrFail(rec, "spIDOMDest->put_async(0)",
                          [&] { return dest->put_async(VARIANT_FALSE); })) ||
        FAILED(callOrFail(rec, "spIDOMDest->setProperty(\"SelectionLanguage\", \"XPath\")",
                          [&] { return dest->setProperty(language, xpath); })) ||
        FAILED(callOrFail(rec, "spXsl.CoCreateInstance(L\"Msxml2.DOMDocument.3.0\")",
                          [&] { return zeb::classification::createDomDocument(xsl); })) ||
        FAILED(
            callOrFail(rec, "spXsl->put_async(0)", [&] { return xsl->put_async(VARIANT_FALSE); })))
        return kFailed;

    const std::string dir = m_source.configurationDirectory();
    const std::string path = dir + "/" + fileName;
    DomDocument stylesheet(std::move(xsl));
    // A name with a directory part, or no configuration directory, would
    // read a stylesheet from elsewhere.
    const bool plainName = !fileName.empty() && fileName.find('/') == std::string::npos &&
                           fileName != "." && fileName != "..";
    bool loaded = false;
    if (plainName && !dir.empty()) {
        try {
            loaded = stylesheet.load(path);
        } catch (const zeb::ComError&) {
            loaded = false;
        }
    }
    if (!loaded) {
        ZEB_TRACE(rec, 4, "error loading XSL '%s'", path.c_str());
        return kFailed;
    }
    DomDocument destination(std::move(dest));
    const DomDocument& source = m_classification.document();
    if (FAILED(callOrFail(rec,
                          "m_spTypeClassification->transformNodeToObject( "
                          "spXsl->documentElement, static_cast<IDispatch*>(spIDOMDest))",
                          [&] {
                              source.transformNodeToObject(stylesheet.documentElement(),
                                                           destination);
                              return S_OK;
                          })))
        return kFailed;
    out = std::move(destination);
    return kOk;
}
