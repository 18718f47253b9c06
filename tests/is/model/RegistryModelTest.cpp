// The model-based random test of the whole installation: a long random
// sequence of operations (types, attributes, snap-ins, extension types,
// tools, queries, package files, export and import, save, reopen) runs on an
// installation and on RegistryModel, and every answer (HRESULT, pRet,
// returned values, lists, query results) must agree, the refused calls
// (unknown identifiers, duplicates, removing what is absent) included.
// Every few hundred operations the installation is saved and reopened in
// this process, or saved and handed to a child process that goes on with
// operations and saves of its own and is killed (SIGKILL) at a random
// moment; the parent then reopens the file and finds in it the model state
// of the last save the child completed or of the one in flight.
//
// ZEB_MODEL_SEED replays a run (each run prints its seed). A seed fixes
// every operation and every child's operations; only the moment of a kill
// is left to the clock, and with it which of two saves a child left on disk,
// from which the run goes on. ZEB_MODEL_OPS sets the number of operations
// (default 100,000; 15,000 in the sanitizer builds, which run ten to thirty
// times slower); ZEB_MODEL_VERBOSE=1 lists each operation on stderr.
#include "is/CZEBIntInstallation.h"

#include "base/fs/FsFileMan.h"
#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "platform/com/Guid.h"
#include "platform/com/SafeArray.h"
#include "platform/com/TaskAllocator.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"
#include "samples/CSampleProjectHdl.h"
#include "samples/SampleIds.h"
#include "tests/co/ChildScenario.h"
#include "tests/is/ScriptedExtension.h"
#include "tests/is/ScriptedTool.h"
#include "tests/is/model/RegistryModel.h"
#include "tests/support/ReportingChild.h"
#include "tests/support/Sanitized.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <type_traits>

namespace {

using namespace zeb::model;
using Clock = std::chrono::steady_clock;

using zeb::test::kSanitized;

long long envNumber(const char* name, long long fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    return end && *end == 0 ? value : fallback;
}

// ---- the pools the operations draw from

constexpr uint32_t kNumbered = 40; // numbered sample types (device types with a runtime id)
constexpr uint32_t kGeneric = 16;  // generic types made through the type class factory
constexpr uint32_t kSnapIns = 5;
constexpr uint32_t kExtensions = 4;
constexpr uint32_t kTools = 4;
constexpr uint32_t kQueryIds = 7;
constexpr DWORD kUntouched = 0xDEAD; // what the test puts in a pRet before a call
constexpr GUID kInternalTypeId = makeGuid("A562FDF0-F9DE-11D3-A6DD-00500439C839");
constexpr DWORD kAccessToolClsid = 0x71E8B036u;
constexpr DWORD kAccessClearCache = 0x2A95C4D3u;

enum Kind : uint8_t {
    kGenericId = 1,
    kAlienId,
    kSnapIn,
    kExtClsid,
    kExtTypeId,
    kToolId,
    kToolClsid,
    kAlienClsid
};

GUID poolGuid(Kind kind, uint32_t n) {
    GUID g = makeGuid("00000000-3D1E-4A77-9B0C-5E1D00000000");
    g.Data1 = n;
    g.Data4[7] = kind;
    return g;
}

std::string genericName(uint32_t i) {
    return "ModelGen" + std::to_string(i) + ".1.0";
}
std::string extensionName(uint32_t k) {
    return "Ext" + std::to_string(k);
}
std::string toolName(uint32_t k) {
    return "Tool" + std::to_string(k) + ".1.0";
}
std::string queryId(uint32_t k) {
    return "q" + std::to_string(k);
}
std::string idText(const GUID& id) {
    return zeb::guidToString(id);
}

// The XPaths the queries are registered with.
std::vector<std::string> xpaths() {
    return {"//ESType/@ESName",
            "//ESType[@ESID='" + idText(zeb::samples::numberedTypeId(0)) + "']/@ESName",
            "//ESType[@ESID='" + idText(poolGuid(kGenericId, 0)) + "']/@ESName",
            "//ESType",
            "//Package//File/@Name",
            "//ESType[@ESID='%estypeid']/@ESName",
            "//ESType[@ESName=\"%param1%\"]/@ESID",
            "//ESType[@ESName="};
}

// The installation the outside components below call back while they are
// made or die, as real extension and tool objects do (a lookup from inside
// the call that makes them).
CZEBIntInstallation* g_callBack = nullptr;

void callBack() {
    if (!g_callBack) return;
    DWORD count = 0;
    GUID* ids = nullptr;
    if (g_callBack->getTypeIDList(&count, &ids) == S_OK && count > 0) {
        BOOL is = FALSE;
        g_callBack->isType(ids[count - 1], &is);
        g_callBack->isTool(ids[0], &is);
    }
    CoTaskMemFree(ids);
}

// The class objects of the outside components, registered in this process:
// the numbered types, the extension objects, the tool objects and the
// generic type's server. The same in the parent and in every child.
class World {
public:
    World() {
        zeb::samples::registerServer();
        for (uint32_t i = 0; i < kNumbered; ++i) {
            ComPtr<IUnknown> factory;
            zeb::samples::numberedTypeClassObject(i, &factory);
            add(zeb::samples::numberedTypeClsid(i), factory);
        }
        for (uint32_t k = 0; k < kExtensions; ++k) {
            auto script = std::make_shared<zeb::test::ExtensionScript>();
            script->name = extensionName(k);
            script->extTypeId = poolGuid(kExtTypeId, k);
            script->onCreate = callBack;
            ComPtr<zeb::test::CScriptedExtensionFactory> factory;
            zeb::test::CScriptedExtensionFactory::createObject(&factory, script);
            add(poolGuid(kExtClsid, k), static_cast<IClassFactory*>(factory.get()));
        }
        for (uint32_t k = 0; k < kTools; ++k) {
            auto script = std::make_shared<zeb::test::ToolScript>();
            script->onCreate = callBack;
            script->onDeath = callBack;
            ComPtr<zeb::test::CScriptedToolFactory> factory;
            zeb::test::CScriptedToolFactory::createObject(&factory, script);
            add(poolGuid(kToolClsid, k), static_cast<IClassFactory*>(factory.get()));
        }
    }
    ~World() {
        for (DWORD cookie : m_cookies)
            CoRevokeClassObject(cookie);
    }
    World(const World&) = delete;
    World& operator=(const World&) = delete;

private:
    void add(const CLSID& clsid, IUnknown* factory) {
        DWORD cookie = 0;
        CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
        m_cookies.push_back(cookie);
    }
    std::vector<DWORD> m_cookies;
};

// One open installation with the project handler that extension objects
// are made through.
struct Session {
    ComPtr<CZEBIntInstallation> inst;
    ComPtr<CSampleProjectHdl> hdl;

    bool open(const std::string& config) {
        if (CZEBIntInstallation::createObject(&inst, config) != S_OK || !inst->isFileOpen() ||
            inst->isReadOnly())
            return false;
        if (CSampleProjectHdl::createObject(&hdl) != S_OK) return false;
        hdl->setInstallation(static_cast<IMC_Installation*>(inst.get()));
        ComPtr<IMC_PrjHdlHolder> holder;
        hdl->getProjectHdlHolder(&holder);
        inst->setPrjHdlHolder(holder);
        g_callBack = inst.get();
        return true;
    }
    void close() {
        g_callBack = nullptr;
        inst.Release(); // cached objects die and may call back through the handler
        if (hdl) hdl->setInstallation(nullptr);
        hdl.Release();
    }
};

std::string narrow(const char16_t* text, size_t n) {
    return zeb::toNarrow(std::u16string_view(text, n));
}
std::string narrow(BSTR text) {
    return text ? narrow(text, SysStringLen(text)) : std::string("(null)");
}
std::string narrow(const std::u16string& text) {
    return narrow(text.data(), text.size());
}

const std::vector<std::u16string>& streamNames() {
    static const std::vector<std::u16string> names = {u"data", u"more"};
    return names;
}

// The streams of a type storage the test writes, with their content.
std::map<std::u16string, std::string> streamsOf(IStorage* storage) {
    std::map<std::u16string, std::string> found;
    for (const std::u16string& name : streamNames()) {
        ComPtr<IStream> stream;
        if (storage->OpenStream(name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                &stream) != S_OK)
            continue;
        std::string text;
        char buf[4096];
        ULONG n = 0;
        while (stream->Read(buf, sizeof buf, &n) == S_OK && n > 0)
            text.append(buf, n);
        found[name] = text;
    }
    return found;
}

// The storages of the types not installed, which a child cannot read, in a
// file it reads them from: per stream "<id> <name> <length>\n<content>".
void writeStorages(const std::string& path, const ModelState& state) {
    std::string text;
    for (const auto& [id, streams] : state.storages) {
        if (state.types.count(id)) continue;
        for (const auto& [name, content] : streams)
            text += idText(id) + " " + narrow(name) + " " + std::to_string(content.size()) + "\n" +
                    content;
    }
    zeb::test::writeFile(path, text);
}

void readStorages(const std::string& path, ModelState& state) {
    const std::string text = zeb::test::readFile(path);
    std::istringstream in(text);
    std::string idPart, name;
    size_t length = 0;
    while (in >> idPart >> name >> length) {
        in.get(); // the line end
        std::string content(length, '\0');
        in.read(content.data(), std::streamsize(length));
        GUID id{};
        zeb::guidFromString(idPart, id);
        state.storages[id][zeb::toWide(name)] = content;
    }
}

// What an installation holds, read through its interface (and, for the
// tools and queries that no interface lists, through its containers).
ModelState readState(CZEBIntInstallation& inst) {
    ModelState state;
    state.internalType = false;
    DWORD count = 0, ret = 0;
    GUID* ids = nullptr;
    inst.getTypeIDList(&count, &ids);
    for (DWORD i = 0; i < count; ++i) {
        if (ids[i] == kInternalTypeId) {
            state.internalType = true;
            continue;
        }
        ModelType t;
        char* name = nullptr;
        inst.getTypeNameByID(ids[i], &name, &ret);
        t.name = name ? name : "";
        CoTaskMemFree(name);
        LONG typeClass = 0;
        inst.getTypeClass(ids[i], &typeClass, &ret);
        t.typeClass = typeClass;
        DWORD n = 0;
        ZEB_AttrPair* pairs = nullptr;
        inst.getAttrListByTypeID(ids[i], &n, &pairs, &ret);
        for (DWORD k = 0; k < n; ++k) {
            t.attributes[std::u16string(pairs[k].key, SysStringLen(pairs[k].key))] =
                std::u16string(pairs[k].value, SysStringLen(pairs[k].value));
            SysFreeString(pairs[k].key);
            SysFreeString(pairs[k].value);
        }
        CoTaskMemFree(pairs);
        GUID* list = nullptr;
        inst.getSnapInListByTypeID(ids[i], &n, &list, &ret);
        t.snapIns.assign(list, list + n);
        CoTaskMemFree(list);
        inst.getDefaultSnapInByTypeID(ids[i], &t.defaultSnapIn, &ret);
        inst.getExtensionTypeIDListByTypeID(ids[i], &n, &list, &ret);
        for (DWORD k = 0; k < n; ++k) {
            char* extName = nullptr;
            inst.getExtensionTypeNameByTypeID(ids[i], list[k], &extName, &ret);
            // Only pool extensions are ever listed: the CLSID follows from the identifier.
            t.extensions[list[k]] =
                ModelExtension{extName ? extName : "", poolGuid(kExtClsid, list[k].Data1)};
            CoTaskMemFree(extName);
        }
        CoTaskMemFree(list);
        ComPtr<IStorage> storage;
        inst.getTypeStorage(ids[i], 0x6D4E2A91u, &storage, &ret);
        if (storage) {
            auto streams = streamsOf(storage.get());
            if (!streams.empty()) state.storages[ids[i]] = std::move(streams);
        }
        state.types[ids[i]] = std::move(t);
    }
    CoTaskMemFree(ids);
    for (const auto& node : inst.classification().document().selectNodes(u"//Package//File")) {
        const zeb::xml::DomElement file = node.asElement();
        GUID device{};
        zeb::guidFromString(zeb::toNarrow(file.getAttribute(u"ESID").value_or(u"")), device);
        state.packageFiles.emplace_back(zeb::toNarrow(file.getAttribute(u"Name").value_or(u"")),
                                        device);
    }
    for (uint32_t k = 0; k < kTools; ++k)
        if (const CIsToolInstallEntry* tool = inst.toolCont().findEntry(poolGuid(kToolId, k)))
            state.tools[poolGuid(kToolId, k)] =
                ModelTool{std::string(tool->m_name.view()), tool->m_clsid, tool->m_value};
    for (uint32_t k = 0; k < kQueryIds; ++k)
        if (const String* xpath = inst.xpathMap().find(String(queryId(k).c_str())))
            state.queries[queryId(k)] = std::string(xpath->view());
    return state;
}

// Where two states differ, for the failure message.
std::string difference(const ModelState& found, const ModelState& expected) {
    std::ostringstream out;
    for (const auto& [id, t] : expected.types) {
        auto it = found.types.find(id);
        if (it == found.types.end())
            out << "type " << t.name << " missing; ";
        else if (!(it->second == t)) {
            const ModelType& f = it->second;
            out << "type " << t.name << " differs (name " << f.name << ", class " << f.typeClass
                << "/" << t.typeClass << ", attributes " << f.attributes.size() << "/"
                << t.attributes.size() << ", snap-ins " << f.snapIns.size() << "/"
                << t.snapIns.size() << ", default "
                << (f.effectiveDefault() == t.effectiveDefault() ? "same" : "other")
                << ", extensions " << f.extensions.size() << "/" << t.extensions.size() << "); ";
        }
    }
    for (const auto& [id, t] : found.types)
        if (!expected.types.count(id)) out << "type " << t.name << " extra; ";
    if (found.tools != expected.tools)
        out << "tools " << found.tools.size() << "/" << expected.tools.size() << "; ";
    for (const auto& [id, t] : expected.types) {
        if (found.storage(id) == expected.storage(id)) continue;
        out << "storage of " << t.name << ":";
        for (const auto& [name, text] : found.storage(id))
            out << " " << narrow(name) << "(" << text.size() << ")";
        out << " /";
        for (const auto& [name, text] : expected.storage(id))
            out << " " << narrow(name) << "(" << text.size() << ")";
        out << "; ";
    }
    if (found.packageFiles != expected.packageFiles)
        out << "package files " << found.packageFiles.size() << "/" << expected.packageFiles.size()
            << "; ";
    if (found.internalType != expected.internalType)
        out << "internal type " << found.internalType << "/" << expected.internalType << "; ";
    if (found.queries != expected.queries)
        out << "queries " << found.queries.size() << "/" << expected.queries.size() << "; ";
    return out.str();
}

// A digest of a state: a child reports it with each save, so that a run
// that went another way than its model shows as such.
std::string digest(const ModelState& state) {
    std::ostringstream out;
    for (const auto& [id, t] : state.types) {
        out << idText(id) << t.name << t.typeClass << idText(t.effectiveDefault());
        for (const auto& [key, value] : t.attributes)
            out << narrow(key) << "=" << narrow(value) << ";";
        for (const GUID& snapIn : t.snapIns)
            out << idText(snapIn);
        for (const auto& [extId, ext] : t.extensions)
            out << idText(extId) << ext.name;
    }
    for (const auto& [id, tool] : state.tools)
        out << idText(id) << tool.name << idText(tool.clsid) << tool.value;
    for (const auto& [id, xpath] : state.queries)
        out << id << xpath;
    for (const auto& [file, device] : state.packageFiles)
        out << file << idText(device);
    out << state.internalType;
    return std::to_string(std::hash<std::string>{}(out.str()));
}

// A storage an export gave, and the type as it was exported (none when the
// export was refused: the storage then holds nothing to import).
struct Export {
    ComPtr<IStorage> storage;
    GUID typeId{};
    std::optional<ModelType> type;
};

// Draws operations, runs each on the installation (when there is one) and
// on the model, and compares the answers. The drawing depends only on the
// random engine and the model, so a run without an installation follows
// the model through the same operations.
class Driver {
public:
    Driver(RegistryModel& model, uint64_t seed, bool saves)
        : m_model(model), m_random(seed), m_saves(saves) {}

    // A new installation object caches nothing yet.
    void attach(CZEBIntInstallation* inst) {
        m_inst = inst;
        m_cached.clear();
        m_needsRefresh.clear();
        m_cachedKnown = true;
    }
    // The first divergence ("" while there is none).
    const std::string& divergence() const { return m_divergence; }
    uint64_t operations() const { return m_ops; }
    // The calls whose pRet was compared: answered 0, and refused.
    uint64_t accepted() const { return m_accepted; }
    uint64_t refused() const { return m_refused; }
    size_t mostPackageFiles() const { return m_mostFiles; }
    std::mt19937_64& random() { return m_random; }
    // A save the driver made is the state a reopen returns to.
    const ModelState& lastSaved() const { return m_lastSaved; }
    void setLastSaved(const ModelState& state) { m_lastSaved = state; }
    // Exports from another process hold storages of that process.
    void forgetExports() { m_exports.clear(); }
    // The installation is released: a save its timer had pending is made now.
    void released() {
        if (m_timerPending) m_lastSaved = m_model.state;
        m_timerPending = false;
    }
    // A save made outside the random operations.
    void saved() {
        m_lastSaved = m_model.state;
        m_timerPending = false;
        m_cachedKnown = false;
    }

    void step() {
        ++m_ops;
        static const std::vector<std::pair<int, void (Driver::*)()>> table = {
            {8, &Driver::addNumbered},      {6, &Driver::addGeneric},
            {3, &Driver::removeType},       {2, &Driver::removeTypeByClass},
            {7, &Driver::setAttribute},     {3, &Driver::removeAttribute},
            {4, &Driver::getAttribute},     {2, &Driver::getAttributeList},
            {4, &Driver::addSnapIn},        {3, &Driver::removeSnapIn},
            {2, &Driver::setDefaultSnapIn}, {3, &Driver::getDefaultSnapIn},
            {2, &Driver::getSnapInList},    {4, &Driver::addExtension},
            {2, &Driver::removeExtension},  {3, &Driver::extensionLookups},
            {3, &Driver::addTool},          {2, &Driver::removeTool},
            {2, &Driver::toolLookups},      {2, &Driver::registerQuery},
            {1, &Driver::unregisterQuery},  {6, &Driver::runQuery},
            {3, &Driver::typeStorage},      {2, &Driver::extensionObject},
            {1, &Driver::addPackageFile},   {1, &Driver::removePackageFile},
            {5, &Driver::nameLookups},      {2, &Driver::typeLists},
            {2, &Driver::vidLookups},       {2, &Driver::classLookups},
            {1, &Driver::nullPointer},      {1, &Driver::refreshOnDemand},
            {2, &Driver::runtimeLookups},   {2, &Driver::exportType},
            {2, &Driver::importType},       {1, &Driver::save},
        };
        static const int total = [] {
            int sum = 0;
            for (const auto& entry : table)
                sum += entry.first;
            return sum;
        }();
        int pick = int(below(uint32_t(total)));
        for (const auto& [weight, op] : table) {
            if (pick < weight) {
                (this->*op)();
                if (m_inst && std::getenv("ZEB_MODEL_VERBOSE"))
                    std::fprintf(stderr, "%llu %s\n", (unsigned long long)m_ops, m_op.c_str());
                return;
            }
            pick -= weight;
        }
    }

    // Reads the whole installation and compares it with the model.
    void checkAll(const char* when) {
        if (!m_inst || !m_divergence.empty()) return;
        const ModelState found = readState(*m_inst);
        if (!(found == m_model.state))
            diverge(std::string(when) + ": " + difference(found, m_model.state));
    }

private:
    uint32_t below(uint32_t n) { return uint32_t(m_random() % n); }
    bool chance(uint32_t percent) { return below(100) < percent; }
    template <class T> const T& oneOf(const std::vector<T>& items) {
        return items[below(uint32_t(items.size()))];
    }

    void diverge(const std::string& what) {
        if (m_divergence.empty())
            m_divergence = "operation " + std::to_string(m_ops) + " (" + m_op + "): " + what;
    }
    // Compares one answer.
    template <class A, class B> void same(const char* what, const A& found, const B& expected) {
        if constexpr (std::is_same_v<B, DWORD>)
            if (std::string_view(what) == "pRet") ++(expected == 0 ? m_accepted : m_refused);
        if (!(found == expected)) {
            std::ostringstream out;
            out << what << " is " << show(found) << ", expected " << show(expected);
            diverge(out.str());
        }
    }
    static std::string show(DWORD v) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%X", unsigned(v));
        return text;
    }
    static std::string show(long v) { return std::to_string(v); }
    static std::string show(int v) { return std::to_string(v); }
    static std::string show(const GUID& v) { return idText(v); }
    static std::string show(const std::string& v) { return "\"" + v + "\""; }
    static std::string show(const std::u16string& v) { return "\"" + narrow(v) + "\""; }
    template <class T> static std::string show(const std::vector<T>& v) {
        std::string text = "[";
        for (const T& item : v)
            text += (text.size() > 1 ? " " : "") + show(item);
        return text + "]";
    }
    template <class K, class V> static std::string show(const std::map<K, V>& v) {
        std::string text = "{";
        for (const auto& [key, value] : v)
            text += (text.size() > 1 ? " " : "") + show(key) + "=" + show(value);
        return text + "}";
    }

    // A type identifier: mostly one the model holds, else any of the pools.
    GUID anyTypeId(bool internal = false) {
        if (!m_model.state.types.empty() && chance(70)) {
            auto it = m_model.state.types.begin();
            std::advance(it, below(uint32_t(m_model.state.types.size())));
            return it->first;
        }
        switch (below(internal ? 4 : 3)) {
        case 0:
            return zeb::samples::numberedTypeId(below(kNumbered));
        case 1:
            return poolGuid(kGenericId, below(kGeneric));
        case 2:
            return poolGuid(kAlienId, below(kGeneric));
        default:
            return kInternalTypeId;
        }
    }
    std::string typeLabel(const GUID& id) {
        if (const ModelType* t = m_model.type(id)) return t->name;
        return id == kInternalTypeId ? "internal" : idText(id);
    }
    // A name: of a type the model holds (in another letter case now and
    // then), or one no type has.
    std::string anyName() {
        if (!m_model.state.types.empty() && chance(70)) {
            auto it = m_model.state.types.begin();
            std::advance(it, below(uint32_t(m_model.state.types.size())));
            std::string name = it->second.name;
            if (chance(30))
                for (char& c : name)
                    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
            return name;
        }
        return chance(50) ? zeb::samples::numberedTypeName(below(kNumbered))
                          : genericName(below(kGeneric));
    }

    // ---- types

    // A numbered device type, now and then the sample package.
    void addNumbered() {
        const uint32_t n = below(kNumbered);
        const bool package = chance(8);
        const long typeClass = chance(90) ? (package ? 2 : 0) : oneOf<long>({6, 8, 9, -1});
        const GUID id = package ? TYPEID_SamplePackage : zeb::samples::numberedTypeId(n);
        const std::string name =
            package ? std::string(kSamplePackageName) : zeb::samples::numberedTypeName(n);
        m_op = "addTypeByClass " + name + " class " + std::to_string(typeClass);
        const bool clsidUsed = m_model.type(id) != nullptr;
        const DWORD expected = m_model.addTypeByClass(id, name, typeClass, clsidUsed);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT",
             m_inst->addTypeByClass(package ? CLSID_SamplePackageType
                                            : zeb::samples::numberedTypeClsid(n),
                                    typeClass, &ret),
             S_OK);
        same("pRet", ret, expected);
    }

    void addGeneric() {
        const uint32_t i = below(kGeneric);
        GUID id = poolGuid(kGenericId, i);
        std::string name = genericName(i);
        long typeClass = oneOf<long>({8, 8, 8, 0, 7, 4});
        bool noType = false;
        const uint32_t variant = below(100);
        if (variant < 5) {
            typeClass = oneOf<long>({3, 5, 6});
        } else if (variant < 15) {
            name = "ModelGen" + std::to_string(i); // no version
        } else if (variant < 25 && !m_model.state.types.empty()) {
            // Another identifier under the name of a type present, in capitals.
            id = poolGuid(kAlienId, i);
            auto it = m_model.state.types.begin();
            std::advance(it, below(uint32_t(m_model.state.types.size())));
            name = it->second.name;
            for (char& c : name)
                if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        } else if (variant < 30) {
            id = GUID_NOTYPE;
            noType = true;
        }
        m_op = "addTypeByClass generic " + idText(id) + " \"" + name + "\" class " +
               std::to_string(typeClass);
        const DWORD expected = m_model.addGenericType(id, name, typeClass, noType);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT",
             m_inst->addTypeByClass(CLSID_SampleGenericType, typeClass, id, name.c_str(), &ret),
             S_OK);
        same("pRet", ret, expected);
    }

    void removeType() {
        const GUID id = anyTypeId(true);
        m_op = "removeType " + typeLabel(id);
        // The container's own type (class 6) goes like any other.
        DWORD expected = 0;
        if (id == kInternalTypeId) {
            expected = m_model.state.internalType ? kOk : kPretTypeId;
            m_model.state.internalType = false;
        } else {
            expected = m_model.removeType(id);
            if (expected == kOk) removed(id);
        }
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->removeType(id, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void removeTypeByClass() {
        const GUID id = anyTypeId(true);
        const long typeClass = oneOf<long>({0, 0, 8, 8, 7, 4, 1, 6, 9});
        m_op = "removeTypeByClass " + typeLabel(id) + " class " + std::to_string(typeClass);
        DWORD expected = 0;
        if (id == kInternalTypeId) // class 6 is refused before the type is looked at
            expected = (typeClass == 6 || typeClass == 9) ? kPretBadClass : kPretProgramType;
        else
            expected = m_model.removeTypeByClass(id, typeClass);
        if (expected == kOk) removed(id);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->removeTypeByClass(id, typeClass, &ret), S_OK);
        same("pRet", ret, expected);
    }

    // ---- attributes

    std::u16string anyKey() {
        return oneOf<std::u16string>({u"BI_Order", u"BI_Group", u"PBI_Note", u"PBI_Z",
                                      u"PBI_\u00c4 x", u"bi_lower", u"XBI_Bad", u""});
    }

    void setAttribute() {
        const GUID id = anyTypeId();
        const std::u16string key = anyKey();
        // Values as callers store them: empty, spaces at either end, line
        // breaks, markup characters, characters beyond the basic plane, a
        // character 0 inside, long ones.
        static const std::vector<std::u16string> odd = {u"",
                                                        u" a b ",
                                                        u"zw\u00f6lf",
                                                        u"<&>\"'",
                                                        u"line\nbreak\r\n",
                                                        u"tab\there",
                                                        u"\U0001F600 smile",
                                                        std::u16string(u"nul\0inside", 11),
                                                        std::u16string(5000, u'w')};
        const std::u16string value =
            chance(30) ? oneOf(odd) : zeb::toWide(std::to_string(below(1000)));
        m_op = "setAttributeByTypeID " + typeLabel(id) + " " + narrow(key) + "=" + narrow(value);
        const ModelType* before = m_model.type(id);
        // Writing a "BI_" attribute (not its value again) has the type's
        // data re-read before the next save.
        const bool refresh =
            before && key.rfind(u"BI_", 0) == 0 &&
            (!before->attributes.count(key) || before->attributes.at(key) != value);
        const DWORD expected = m_model.setAttribute(id, key, value);
        if (expected == kOk && refresh) m_needsRefresh.insert(id);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        zeb::Bstr k(key), v(value);
        same("HRESULT", m_inst->setAttributeByTypeID(id, k, v, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void removeAttribute() {
        const GUID id = anyTypeId();
        const std::u16string key = anyKey();
        m_op = "removeAttributeByTypeID " + typeLabel(id) + " " + narrow(key);
        const DWORD expected = m_model.removeAttribute(id, key);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        zeb::Bstr k(key);
        same("HRESULT", m_inst->removeAttributeByTypeID(id, k, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void getAttribute() {
        const GUID id = anyTypeId();
        const std::u16string key = anyKey();
        m_op = "getAttributeByTypeID " + typeLabel(id) + " " + narrow(key);
        const ModelType* t = m_model.type(id);
        DWORD expected = t ? kPretNotFound : kPretTypeId;
        std::string value = "(null)";
        if (t) {
            auto it = t->attributes.find(key);
            if (it != t->attributes.end()) {
                expected = kOk;
                value = narrow(it->second);
            }
        }
        if (!m_inst) return;
        DWORD ret = kUntouched;
        BSTR found = nullptr;
        zeb::Bstr k(key);
        same("HRESULT", m_inst->getAttributeByTypeID(id, k, &found, &ret), S_OK);
        same("pRet", ret, expected);
        same("value", narrow(found), value);
        SysFreeString(found);
    }

    void getAttributeList() {
        const GUID id = anyTypeId();
        m_op = "getAttrListByTypeID " + typeLabel(id);
        const ModelType* t = m_model.type(id);
        const bool pe = chance(50);
        // Every draw comes before this: a run without an installation draws the same.
        if (!m_inst) return;
        DWORD ret = kUntouched, count = 99;
        ZEB_AttrPair* pairs = nullptr;
        same("HRESULT",
             pe ? m_inst->getAttributes(id, &count, &pairs, &ret)
                : m_inst->getAttrListByTypeID(id, &count, &pairs, &ret),
             S_OK);
        // These answer the container's code as it is.
        same("pRet", ret, DWORD(t ? 0 : 10));
        std::map<std::u16string, std::u16string> found;
        for (DWORD k = 0; k < count; ++k) {
            found[std::u16string(pairs[k].key, SysStringLen(pairs[k].key))] =
                std::u16string(pairs[k].value, SysStringLen(pairs[k].value));
            SysFreeString(pairs[k].key);
            SysFreeString(pairs[k].value);
        }
        CoTaskMemFree(pairs);
        same("count", count, DWORD(t ? t->attributes.size() : 0));
        same("attributes", found, t ? t->attributes : std::map<std::u16string, std::u16string>{});
        ZEB_AttrBlock block{};
        ret = kUntouched;
        same("HRESULT", m_inst->getAttributes(id, &block, &ret), S_OK);
        same("pRet of the block", ret, DWORD(t ? 0 : 10));
    }

    // ---- snap-ins

    GUID anySnapIn() { return poolGuid(kSnapIn, below(kSnapIns)); }

    void addSnapIn() {
        const GUID id = anyTypeId();
        const GUID snapIn = anySnapIn();
        m_op = "addSnapInByTypeID " + typeLabel(id) + " " + idText(snapIn);
        const DWORD expected = m_model.addSnapIn(id, snapIn);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->addSnapInByTypeID(id, snapIn, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void removeSnapIn() {
        const GUID id = anyTypeId();
        const GUID snapIn = anySnapIn();
        m_op = "removeSnapInByTypeID " + typeLabel(id) + " " + idText(snapIn);
        const DWORD expected = m_model.removeSnapIn(id, snapIn);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->removeSnapInByTypeID(id, snapIn, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void setDefaultSnapIn() {
        const GUID id = anyTypeId();
        const GUID snapIn = anySnapIn();
        m_op = "setDefaultSnapInByTypeID " + typeLabel(id) + " " + idText(snapIn);
        const DWORD expected = m_model.setDefaultSnapIn(id, snapIn);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->setDefaultSnapInByTypeID(id, snapIn, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void getDefaultSnapIn() {
        const GUID id = anyTypeId();
        m_op = "getDefaultSnapInByTypeID " + typeLabel(id);
        const ModelType* t = m_model.type(id);
        const DWORD expected = !t ? kPretTypeId : t->snapIns.empty() ? kPretEmpty : kOk;
        if (!m_inst) return;
        DWORD ret = kUntouched;
        GUID found = GUID_NULL;
        same("HRESULT", m_inst->getDefaultSnapInByTypeID(id, &found, &ret), S_OK);
        same("pRet", ret, expected);
        same("snap-in", found, expected == kOk ? t->effectiveDefault() : GUID_NOTYPE);
    }

    void getSnapInList() {
        const GUID id = anyTypeId();
        m_op = "getSnapInListByTypeID " + typeLabel(id);
        const ModelType* t = m_model.type(id);
        if (!m_inst) return;
        DWORD ret = kUntouched, count = 99;
        GUID* list = nullptr;
        same("HRESULT", m_inst->getSnapInListByTypeID(id, &count, &list, &ret), S_OK);
        same("pRet", ret, t ? kOk : kPretTypeId);
        same("snap-ins", std::vector<GUID>(list, list + count),
             t ? t->snapIns : std::vector<GUID>{});
        CoTaskMemFree(list);
    }

    // ---- extension types

    void addExtension() {
        const GUID id = anyTypeId();
        const uint32_t k = below(kExtensions);
        GUID clsid = poolGuid(kExtClsid, k);
        std::string name = extensionName(k), objectName = extensionName(k);
        const uint32_t variant = below(100);
        if (variant < 10) {
            name = extensionName(below(kExtensions)); // may not be the object's name
        } else if (variant < 20) {
            name = "EXT" + std::to_string(k); // the object's name in other letters
        } else if (variant < 25) {
            clsid = poolGuid(kAlienClsid, k); // no such class
            objectName.clear();
        }
        m_op = "addExtensionTypeByTypeID " + typeLabel(id) + " " + name + " " + idText(clsid);
        DWORD expected = 0;
        if (objectName.empty()) {
            // Refused before the object is asked for when the name is listed.
            const ModelType* t = m_model.type(id);
            expected = kPretTypeId;
            if (t) {
                expected = kPretNotCreated;
                for (const auto& [extId, ext] : t->extensions)
                    if (folded(ext.name) == folded(name) || ext.clsid == clsid)
                        expected = kPretAlreadyPresent;
            }
        } else {
            expected = m_model.addExtension(id, name, clsid, objectName, poolGuid(kExtTypeId, k));
        }
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->addExtensionTypeByTypeID(id, name.c_str(), clsid, &ret), S_OK);
        same("pRet", ret, expected);
    }

    GUID anyExtTypeId() {
        return chance(90) ? poolGuid(kExtTypeId, below(kExtensions))
                          : poolGuid(kAlienId, below(kExtensions));
    }

    void removeExtension() {
        const GUID id = anyTypeId();
        const GUID ext = anyExtTypeId();
        m_op = "removeExtensionTypeByTypeID " + typeLabel(id) + " " + idText(ext);
        const DWORD expected = m_model.removeExtension(id, ext);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->removeExtensionTypeByTypeID(id, ext, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void extensionLookups() {
        const GUID id = anyTypeId();
        const GUID ext = anyExtTypeId();
        m_op = "extension lookups " + typeLabel(id) + " " + idText(ext);
        const ModelType* t = m_model.type(id);
        if (!m_inst) return;
        DWORD ret = kUntouched, count = 99;
        GUID* list = nullptr;
        same("HRESULT", m_inst->getExtensionTypeIDListByTypeID(id, &count, &list, &ret), S_OK);
        same("pRet of the list", ret, t ? kOk : kPretTypeId);
        std::vector<GUID> expectedList;
        if (t)
            for (const auto& entry : t->extensions)
                expectedList.push_back(entry.first);
        same("extension list", std::vector<GUID>(list, list + count), expectedList);
        CoTaskMemFree(list);
        char* name = nullptr;
        ret = kUntouched;
        same("HRESULT", m_inst->getExtensionTypeNameByTypeID(id, ext, &name, &ret), S_OK);
        const ModelExtension* e = nullptr;
        if (t) {
            auto it = t->extensions.find(ext);
            if (it != t->extensions.end()) e = &it->second;
        }
        same("pRet of the name", ret, !t ? kPretTypeId : e ? kOk : kPretNotFound);
        same("name", std::string(name ? name : "(null)"), e ? e->name : std::string());
        CoTaskMemFree(name);
        BOOL is = 7;
        same("HRESULT", m_inst->isExtensionType(id, ext, &is), S_OK);
        same("isExtensionType", is, e ? TRUE : FALSE);
    }

    // ---- tools

    void addTool() {
        const GUID id = poolGuid(kToolId, below(kTools));
        std::string name = toolName(below(kTools));
        if (chance(10)) name = "Tool" + std::to_string(below(kTools)); // no version
        if (chance(10))
            for (char& c : name)
                if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
        const GUID clsid = poolGuid(kToolClsid, below(kTools));
        const DWORD value = DWORD(below(100000));
        m_op = "addTool " + idText(id) + " " + name + " " + idText(clsid);
        const DWORD expected = m_model.addTool(id, name, clsid, value);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        const std::u16string wide = zeb::toWide(name);
        same("HRESULT", m_inst->addTool(id, wide.c_str(), clsid, value, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void removeTool() {
        const GUID id = poolGuid(kToolId, below(kTools + 1));
        m_op = "removeToolByToolTypeID " + idText(id);
        const DWORD expected = m_model.removeTool(id);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->removeToolByToolTypeID(id, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void toolLookups() {
        const GUID id = poolGuid(kToolId, below(kTools + 1));
        const DWORD access = oneOf<DWORD>({kAccessToolClsid, kAccessClearCache, 0x12345678u});
        m_op = "tool lookups " + idText(id);
        auto it = m_model.state.tools.find(id);
        const bool present = it != m_model.state.tools.end();
        if (!m_inst) return;
        BOOL is = 7;
        same("HRESULT", m_inst->isTool(id, &is), S_OK);
        same("isTool", is, present ? TRUE : FALSE);
        CLSID clsid = GUID_NOTYPE;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->getClsidByToolTypeID(id, access, &clsid, &ret), S_OK);
        if (access == 0x12345678u) {
            same("pRet", ret, kPretProtection);
            same("CLSID", clsid, GUID_NULL);
        } else {
            same("pRet", ret, present ? kOk : kPretToolAbsent);
            same("CLSID", clsid, present ? it->second.clsid : GUID_NULL);
        }
        // A new tool object each time, of the tool's class.
        ComPtr<IUnknown> tool;
        ret = kUntouched;
        same("HRESULT", m_inst->getToolByToolTypeID(id, &tool, &ret), S_OK);
        same("pRet of getToolByToolTypeID", ret, present ? kOk : kPretToolAbsent);
        same("a tool object", int(bool(tool)), int(present));
        ComQIPtr<zeb::test::ITestTool> scripted(tool);
        same("a tool object of the test", int(bool(scripted)), int(present));
    }

    // ---- queries

    void registerQuery() {
        const std::string id = queryId(below(kQueryIds));
        const std::string xpath = oneOf(xpaths());
        m_op = "registerXPathQuery " + id + " " + xpath;
        const DWORD expected = m_model.registerQuery(id, xpath);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->registerXPathQuery(id.c_str(), xpath.c_str(), &ret), S_OK);
        same("pRet", ret, expected);
    }

    void unregisterQuery() {
        const std::string id = queryId(below(kQueryIds));
        m_op = "unregisterXPathQuery " + id;
        const DWORD expected = m_model.unregisterQuery(id);
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->unregisterXPathQuery(id.c_str(), &ret), S_OK);
        same("pRet", ret, expected);
    }

    // What the document answers for the stored query `which` (an index
    // into xpaths()) with its placeholders filled: the code and the texts.
    std::pair<DWORD, std::vector<std::string>> evaluate(size_t which, int mode, const GUID& id,
                                                        const std::vector<std::string>& params) {
        std::vector<std::string> texts;
        // Placeholders: "%estypeid" in query 5, "%param1%" in query 6.
        if (mode == 1 && which != 5) return {29, texts};
        if (mode == 2) {
            if (params.size() > (which == 6 ? 1u : 0u)) return {29, texts}; // one not in the query
            if (which == 6 && params.empty()) return {29, texts};           // one left unfilled
        }
        const auto& types = m_model.state.types;
        switch (which) {
        case 0:
            for (const auto& [typeId, t] : types)
                texts.push_back(t.name);
            break;
        case 1:
        case 2:
            if (const ModelType* t = m_model.type(which == 1 ? zeb::samples::numberedTypeId(0)
                                                             : poolGuid(kGenericId, 0)))
                texts.push_back(t->name);
            break;
        case 3:
            if (!types.empty()) return {9, texts};
            break;
        case 4:
            for (const auto& file : m_model.state.packageFiles)
                texts.push_back(file.first);
            break;
        case 5:
            if (const ModelType* t = m_model.type(id); t && mode == 1) texts.push_back(t->name);
            break;
        case 6:
            if (mode == 2)
                for (const auto& [typeId, t] : types)
                    if (t.name == params[0]) texts.push_back(idText(typeId));
            break;
        case 7:
            // No XPath: the call fails (E_FAIL) and leaves pRet as it was.
            return {kUntouched, texts};
        default:
            break;
        }
        std::sort(texts.begin(), texts.end());
        return {texts.empty() ? 44 : 0, texts};
    }

    void runQuery() {
        const std::string qid = queryId(below(kQueryIds));
        const int mode = int(below(3));
        const GUID id = anyTypeId();
        std::vector<std::string> params;
        for (uint32_t n = below(100) < 80 ? 1 : below(3); n > 0; --n)
            params.push_back(chance(80) ? anyName()
                                        : oneOf<std::string>({"a\"b", "it's", "x'\"y", ""}));
        m_op = "query " + qid + " mode " + std::to_string(mode) + " " + typeLabel(id) + " " +
               show(params);
        DWORD expected = 13;
        std::vector<std::string> texts;
        auto it = m_model.state.queries.find(qid);
        if (it != m_model.state.queries.end()) {
            const std::vector<std::string> all = xpaths();
            std::tie(expected, texts) =
                evaluate(size_t(std::find(all.begin(), all.end(), it->second) - all.begin()), mode,
                         id, params);
        }
        if (!m_inst) return;
        DWORD ret = kUntouched;
        zeb::Variant result;
        zeb::Bstr bid(qid.c_str());
        std::vector<zeb::Variant> args(params.size());
        for (size_t i = 0; i < params.size(); ++i) {
            args[i].vt = VT_BSTR;
            args[i].bstrVal = SysAllocString(zeb::toWide(params[i]).c_str());
        }
        zeb::Variant none;
        const HRESULT hr =
            mode == 0 ? m_inst->getTypeDescr(bid, &result, &ret)
            : mode == 1
                ? m_inst->getTypeDescrAttr(id, bid, &result, &ret)
                : m_inst->getTypeDescrParam(LONG(args.size()), args.empty() ? &none : args.data(),
                                            bid, &result, &ret);
        same("HRESULT", hr, expected == kUntouched ? E_FAIL : S_OK);
        same("pRet", ret, expected);
        std::vector<std::string> found;
        if (result.vt == VT_BSTR) {
            found.push_back(narrow(result.bstrVal));
        } else if (result.vt == (VT_ARRAY | VT_BSTR)) {
            LONG upper = -1;
            SafeArrayGetUBound(result.parray, 1, &upper);
            for (LONG i = 0; i <= upper; ++i) {
                BSTR text = nullptr;
                SafeArrayGetElement(result.parray, &i, &text);
                found.push_back(narrow(text));
                SysFreeString(text);
            }
        }
        std::sort(found.begin(), found.end());
        same("result", found, texts);
        same("result type", int(result.vt),
             texts.empty()       ? int(VT_EMPTY)
             : texts.size() == 1 ? int(VT_BSTR)
                                 : int(VT_ARRAY | VT_BSTR));
    }

    // ---- type storage: read through a copy, written from a storage of
    // the caller's; a write starts the save timer, whose save the release
    // of the installation makes.

    void typeStorage() {
        const GUID id = anyTypeId();
        const DWORD access = chance(95) ? 0x6D4E2A91u : kAccessClearCache;
        const bool replace = chance(50);
        std::map<std::u16string, std::string> content;
        for (const std::u16string& name : streamNames())
            if (chance(60))
                content[name] = std::to_string(below(1000000)) + std::string(below(3000), 'x');
        m_op = "type storage " + typeLabel(id) + (replace ? " replaced" : " read");
        const ModelType* t = m_model.type(id);
        const DWORD expected = access != 0x6D4E2A91u ? kPretProtection
                               : t                   ? kOk
                                                     : DWORD(0xBE020005);
        std::map<std::u16string, std::string> before;
        if (auto it = m_model.state.storages.find(id); it != m_model.state.storages.end())
            before = it->second;
        if (replace && expected == kOk) {
            // The source is copied into the type's storage: its streams
            // replace those of the same name, the others stay, as a copy
            // between structured storages does.
            for (const auto& [name, text] : content)
                m_model.state.storages[id][name] = text;
            m_timerPending = true;
        }
        if (!m_inst) return;
        // Asked for first, the section is there to be replaced.
        ComPtr<IStorage> copy;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->getTypeStorage(id, access, &copy, &ret), S_OK);
        same("pRet", ret, expected);
        same("a storage", int(bool(copy)), int(expected == kOk));
        if (copy) same("storage content", streamsOf(copy.get()), before);
        if (!replace) return;
        ComPtr<IStorage> source;
        FsFileMan::createMemStorage(&source);
        for (const auto& [name, text] : content) {
            ComPtr<IStream> stream;
            source->CreateStream(name.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE,
                                 0, 0, &stream);
            stream->Write(text.data(), ULONG(text.size()), nullptr);
        }
        ret = kUntouched;
        same("HRESULT", m_inst->setTypeStorage(id, access, source.get(), &ret), S_OK);
        same("pRet of the replacement", ret, expected);
    }

    // ---- an extension object, made through the project handler

    void extensionObject() {
        const GUID id = anyTypeId();
        const GUID ext = anyExtTypeId();
        m_op = "getExtensionTypeByTypeID " + typeLabel(id) + " " + idText(ext);
        const ModelType* t = m_model.type(id);
        const DWORD expected = !t ? kPretTypeId : t->extensions.count(ext) ? kOk : kPretNotFound;
        if (t) m_cached.insert(id); // the type object is made first, and cached
        if (!m_inst) return;
        ComPtr<IUnknown> object;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->getExtensionTypeByTypeID(id, ext, &object, &ret), S_OK);
        same("pRet", ret, expected);
        same("an object", int(bool(object)), int(expected == kOk));
        ComQIPtr<IMC_TypeIdent> ident(object);
        if (ident) {
            GUID answered = GUID_NULL;
            ident->getTypeId(&answered);
            same("the object's identifier", answered, ext);
        }
        // With memory to spare the cache keeps its objects.
        ident.Release();
        object.Release();
        ret = kUntouched;
        same("HRESULT", m_inst->clearTypeCache(kAccessClearCache, &ret), S_OK);
        same("pRet of clearTypeCache", ret, kOk);
    }

    // ---- package files: no package is installed, so no file can be added;
    // removing one of a device type present finds nothing and succeeds.

    // ---- package files: listed under the package's class element (found
    // by its exact name), each naming a device type found by name in any
    // letter case.

    std::string anyPackageName() {
        return oneOf<std::string>({kSamplePackageName, kSamplePackageName, "samplepack.1.0",
                                   "ModelPackage.1.0", anyName()});
    }
    bool packageListed(const std::string& name) const {
        return name == kSamplePackageName && m_model.type(TYPEID_SamplePackage);
    }

    void addPackageFile() {
        const std::string package = anyPackageName();
        const std::string device = anyName();
        const std::string file =
            oneOf<std::string>({"manual.pdf", "setup.ini", "a'b\"c.txt", " with spaces .txt",
                                "line\nbreak.txt", "tab\there.txt", "\xc3\xbcmlaut.txt", ""});
        m_op = "addPackageFile " + package + " " + device + " " + file;
        DWORD expected = 0xBE020003;
        const auto* named = m_model.byName(device);
        if (packageListed(package) && named) {
            m_model.state.packageFiles.emplace_back(file, named->first);
            m_mostFiles = std::max(m_mostFiles, m_model.state.packageFiles.size());
            expected = kOk;
        }
        if (!m_inst) return;
        DWORD ret = kUntouched;
        zeb::Bstr text(file.c_str());
        same("HRESULT", m_inst->addPackageFile(package.c_str(), device.c_str(), text, &ret), S_OK);
        same("pRet", ret, expected);
    }

    void removePackageFile() {
        const std::string package = anyPackageName();
        const std::string device = anyName();
        m_op = "removePackageFile " + package + " " + device;
        const auto* named = m_model.byName(device);
        // Nothing listed for the device: nothing to do, and no failure.
        const DWORD expected = named ? kOk : DWORD(0xBE020003);
        if (named && packageListed(package)) {
            auto& files = m_model.state.packageFiles;
            auto it = std::find_if(files.begin(), files.end(),
                                   [&](const auto& f) { return f.second == named->first; });
            if (it != files.end()) files.erase(it);
        }
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->removePackageFile(package.c_str(), device.c_str(), &ret), S_OK);
        same("pRet", ret, expected);
    }

    // ---- the refresh on demand: describes the new types (each through an
    // object of its own, which lets a cached one go) and arranges the
    // document; a timer save stays pending.

    void refreshOnDemand() {
        m_op = "refreshXMLTypeOnDemand";
        m_cachedKnown = false;
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->refreshXMLTypeOnDemand(&ret), S_OK);
        same("pRet", ret, kOk);
    }

    // ---- a missing out pointer: E_POINTER, and nothing changes

    void nullPointer() {
        const GUID id = anyTypeId();
        const uint32_t which = below(8);
        const GUID snapIn = anySnapIn();
        const uint32_t n = below(kNumbered);
        m_op = "null pointer " + std::to_string(which) + " " + typeLabel(id);
        if (!m_inst) return;
        DWORD ret = 0;
        HRESULT hr = S_OK;
        switch (which) {
        case 0:
            hr = m_inst->addTypeByClass(zeb::samples::numberedTypeClsid(n), 0, nullptr);
            break;
        case 1:
            hr = m_inst->removeType(id, nullptr);
            break;
        case 2:
            hr = m_inst->addSnapInByTypeID(id, snapIn, nullptr);
            break;
        case 3:
            hr = m_inst->setAttributeByTypeID(id, zeb::Bstr(u"BI_Order"), zeb::Bstr(u"1"), nullptr);
            break;
        case 4:
            hr = m_inst->addTool(poolGuid(kToolId, 0), u"Tool0.1.0", poolGuid(kToolClsid, 0), 1,
                                 nullptr);
            break;
        case 5:
            hr = m_inst->registerXPathQuery(queryId(0).c_str(), nullptr, &ret);
            break;
        case 6:
            hr = m_inst->addPackageFile(kSamplePackageName, nullptr, nullptr, &ret);
            break;
        default:
            hr = m_inst->getTypeIdByName(nullptr, nullptr, &ret);
            break;
        }
        same("HRESULT", hr, E_POINTER);
    }

    // ---- lookups

    void nameLookups() {
        const std::string name = anyName();
        const GUID id = anyTypeId();
        m_op = "name lookups " + name + " " + typeLabel(id);
        const auto* named = m_model.byName(name);
        const ModelType* t = m_model.type(id);
        if (!m_inst) return;
        GUID found = GUID_NOTYPE;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->getTypeIdByName(name.c_str(), &found, &ret), S_OK);
        same("pRet of getTypeIdByName", ret, named ? kOk : kPretNameRule);
        same("getTypeIdByName", found, named ? named->first : GUID_NULL);
        char* text = nullptr;
        ret = kUntouched;
        same("HRESULT", m_inst->getTypeNameByID(id, &text, &ret), S_OK);
        same("pRet of getTypeNameByID", ret, t ? kOk : kPretTypeId);
        same("getTypeNameByID", std::string(text ? text : "(null)"),
             t ? t->name : std::string("(null)"));
        CoTaskMemFree(text);
        LONG typeClass = -5;
        ret = kUntouched;
        same("HRESULT", m_inst->getTypeClass(id, &typeClass, &ret), S_OK);
        same("pRet of getTypeClass", ret, t ? kOk : DWORD(0xBE020001));
        same("getTypeClass", long(typeClass), t ? t->typeClass : 32767L);
        BOOL is = 7;
        same("HRESULT", m_inst->isType(id, &is), S_OK);
        same("isType", is, t ? TRUE : FALSE);
    }

    // The version-independent name: the leading identifier of the name.
    static std::string vidOf(const std::string& name) {
        size_t end = 0;
        while (end < name.size() && name[end] != '.')
            ++end;
        return name.substr(0, end);
    }

    void vidLookups() {
        const GUID id = anyTypeId();
        const std::string vid = vidOf(anyName());
        const std::string suffix = oneOf<std::string>({"", "", ".1", ".1.0", ".0.9", ".2", ".1.1"});
        const std::string name = vid + suffix;
        const long typeClass = oneOf<long>({0, 2, 4, 7, 8});
        m_op = "VID lookups " + name + " class " + std::to_string(typeClass) + " " + typeLabel(id);
        // Every name here is "<vid>.1.0"; a VID name with a version finds the
        // type whose version is at least that one.
        const bool versionMet = suffix != ".2" && suffix != ".1.1";
        const std::pair<const GUID, ModelType>* found = nullptr;
        for (const auto& entry : m_model.state.types)
            if (folded(vidOf(entry.second.name)) == folded(vid) && versionMet) found = &entry;
        const ModelType* t = m_model.type(id);
        if (!m_inst) return;
        GUID answer = GUID_NOTYPE;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->getTypeIdByVIDName(name.c_str(), &answer, &ret), S_OK);
        same("pRet of getTypeIdByVIDName", ret, found ? kOk : kPretNameRule);
        same("getTypeIdByVIDName", answer, found ? found->first : GUID_NULL);
        const bool ofClass = found && found->second.typeClass == typeClass;
        answer = GUID_NOTYPE;
        ret = kUntouched;
        same("HRESULT", m_inst->getTypeIdByVIDNameAndClass(name.c_str(), typeClass, &answer, &ret),
             S_OK);
        same("pRet of getTypeIdByVIDNameAndClass", ret, ofClass ? kOk : kPretNameRule);
        same("getTypeIdByVIDNameAndClass", answer, ofClass ? found->first : GUID_NULL);
        // The list holds the types whose name before the first dot is the one given.
        std::vector<GUID> listed;
        for (const auto& [typeId, type] : m_model.state.types)
            if (folded(vidOf(type.name)) == folded(name)) listed.push_back(typeId);
        DWORD count = 0;
        GUID* ids = nullptr;
        same("HRESULT", m_inst->getTypeIDListByVIDName(name.c_str(), &count, &ids), S_OK);
        same("getTypeIDListByVIDName", std::vector<GUID>(ids, ids + count), listed);
        CoTaskMemFree(ids);
        char* text = nullptr;
        ret = kUntouched;
        same("HRESULT", m_inst->getTypeVIDNameByID(id, &text, &ret), S_OK);
        same("pRet of getTypeVIDNameByID", ret, t ? kOk : kPretTypeId);
        same("getTypeVIDNameByID", std::string(text ? text : "(null)"),
             t ? vidOf(t->name) : std::string("(null)"));
        CoTaskMemFree(text);
        text = nullptr;
        ret = kUntouched;
        const bool idOfClass = t && t->typeClass == typeClass;
        same("HRESULT", m_inst->getTypeVIDNameByIDAndClass(id, typeClass, &text, &ret), S_OK);
        same("pRet of getTypeVIDNameByIDAndClass", ret, idOfClass ? kOk : kPretTypeId);
        same("getTypeVIDNameByIDAndClass", std::string(text ? text : "(null)"),
             idOfClass ? vidOf(t->name) : std::string("(null)"));
        CoTaskMemFree(text);
    }

    // The lookups restricted to a class: another class answers as no type.
    void classLookups() {
        const GUID id = anyTypeId();
        const std::string name = anyName();
        const long typeClass = oneOf<long>({0, 0, 2, 4, 7, 8});
        const uint32_t n = below(kNumbered);
        m_op =
            "class lookups " + typeLabel(id) + " " + name + " class " + std::to_string(typeClass);
        const ModelType* t = m_model.type(id);
        const bool idOfClass = t && t->typeClass == typeClass;
        const auto* named = m_model.byName(name);
        const bool nameOfClass = named && named->second.typeClass == typeClass;
        const GUID numbered = zeb::samples::numberedTypeId(n);
        const ModelType* nt = m_model.type(numbered);
        const bool rtOfClass = nt && nt->typeClass == typeClass;
        if (!m_inst) return;
        char* text = nullptr;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->getTypeNameByIDAndClass(id, typeClass, &text, &ret), S_OK);
        same("pRet of getTypeNameByIDAndClass", ret, idOfClass ? kOk : kPretTypeId);
        same("getTypeNameByIDAndClass", std::string(text ? text : "(null)"),
             idOfClass ? t->name : std::string("(null)"));
        CoTaskMemFree(text);
        GUID answer = GUID_NOTYPE;
        ret = kUntouched;
        same("HRESULT", m_inst->getTypeIdByNameAndClass(name.c_str(), typeClass, &answer, &ret),
             S_OK);
        same("pRet of getTypeIdByNameAndClass", ret, nameOfClass ? kOk : kPretNameRule);
        same("getTypeIdByNameAndClass", answer, nameOfClass ? named->first : GUID_NULL);
        RTTypeID rt = RTTYPEID_INVALID;
        ret = kUntouched;
        same("HRESULT", m_inst->getRTIDByTypeIDandClass(id, typeClass, &rt, &ret), S_OK);
        same("pRet of getRTIDByTypeIDandClass", ret, idOfClass ? kOk : kPretTypeId);
        if (!idOfClass) same("runtime family", rt.guidVersion, GUID_NOTYPE);
        answer = GUID_NULL;
        ret = kUntouched;
        const RTTypeID wanted{zeb::samples::numberedTypeFamily(n), 1, 0};
        same("HRESULT", m_inst->getTypeIDByRTIDandClass(wanted, typeClass, &answer, &ret), S_OK);
        same("pRet of getTypeIDByRTIDandClass", ret, rtOfClass ? kOk : DWORD(0xBE020005));
        same("getTypeIDByRTIDandClass", answer, rtOfClass ? numbered : GUID_NOTYPE);
        LONG found = -5;
        ret = kUntouched;
        same("HRESULT", m_inst->getTypeClass(id, &found, &ret), S_OK);
        same("getTypeClass", long(found), t ? t->typeClass : 32767L);
    }

    void typeLists() {
        const long typeClass = oneOf<long>({0, 4, 7, 8, 2});
        m_op = "type lists class " + std::to_string(typeClass);
        const bool byClass = chance(50);
        if (!m_inst) return;
        std::vector<GUID> all, ofClass;
        std::map<GUID, std::string> names, classNames;
        for (const auto& [id, t] : m_model.state.types) {
            all.push_back(id);
            names[id] = t.name;
            if (t.typeClass == typeClass) {
                ofClass.push_back(id);
                classNames[id] = t.name;
            }
        }
        DWORD count = 0;
        GUID* ids = nullptr;
        same("HRESULT", m_inst->getTypeIDList(&count, &ids), S_OK);
        std::vector<GUID> found(ids, ids + count);
        CoTaskMemFree(ids);
        same("the internal type listed",
             int(std::count(found.begin(), found.end(), kInternalTypeId)),
             m_model.state.internalType ? 1 : 0);
        found.erase(std::remove(found.begin(), found.end(), kInternalTypeId), found.end());
        same("getTypeIDList", found, all);
        same("HRESULT", m_inst->getTypeIDListByClass(typeClass, &count, &ids), S_OK);
        found.assign(ids, ids + count);
        CoTaskMemFree(ids);
        found.erase(std::remove(found.begin(), found.end(), kInternalTypeId), found.end());
        same("getTypeIDListByClass", found, ofClass);
        ZEB_TypeNameEntry* map = nullptr;
        same("HRESULT",
             byClass ? m_inst->getTypeNameMapByClass(typeClass, &count, &map)
                     : m_inst->getTypeNameMap(&count, &map),
             S_OK);
        std::map<GUID, std::string> foundNames;
        for (DWORD i = 0; i < count; ++i) {
            if (map[i].typeId != kInternalTypeId) foundNames[map[i].typeId] = map[i].name;
            CoTaskMemFree(map[i].name);
        }
        CoTaskMemFree(map);
        same("type name map", foundNames, byClass ? classNames : names);
    }

    void runtimeLookups() {
        const uint32_t n = below(kNumbered);
        const GUID id = anyTypeId();
        m_op = "runtime lookups " + std::to_string(n) + " " + typeLabel(id);
        const GUID numbered = zeb::samples::numberedTypeId(n);
        const bool present = m_model.type(numbered) != nullptr;
        const ModelType* t = m_model.type(id);
        if (!m_inst) return;
        const RTTypeID rt{zeb::samples::numberedTypeFamily(n), 1, 0};
        GUID found = GUID_NULL;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->getTypeIDByRTID(rt, &found, &ret), S_OK);
        same("pRet of getTypeIDByRTID", ret, present ? kOk : DWORD(0xBE020005));
        same("getTypeIDByRTID", found, present ? numbered : GUID_NOTYPE);
        RTTypeID back = RTTYPEID_INVALID;
        ret = kUntouched;
        same("HRESULT", m_inst->getRTIDByTypeID(id, &back, &ret), S_OK);
        same("pRet of getRTIDByTypeID", ret, t ? kOk : kPretTypeId);
        if (t && id.Data1 < kNumbered && zeb::samples::numberedTypeId(id.Data1) == id)
            same("runtime family", back.guidVersion, zeb::samples::numberedTypeFamily(id.Data1));
        if (!t) same("runtime family", back.guidVersion, GUID_NOTYPE);
    }

    // ---- export and import

    void exportType() {
        const GUID id = anyTypeId();
        m_op = "exportTypeData " + typeLabel(id);
        const ModelType* t = m_model.type(id);
        Export e;
        e.typeId = id;
        // The sample package names the sample drive and cam types as the
        // types it depends on; they are never installed here, and the
        // entries cannot be exported (the container's code as it is).
        const bool dependent = id == TYPEID_SamplePackage;
        if (t && !dependent) e.type = *t;
        // The export makes the type's object afresh: a cached one is let go,
        // and the type's data re-read.
        if (t) forgetObject(id);
        if (m_inst) {
            DWORD ret = kUntouched;
            same("HRESULT", m_inst->exportTypeData(id, &e.storage, &ret), S_OK);
            same("pRet", ret, !t ? kPretTypeId : dependent ? DWORD(10) : kOk);
            if (!e.storage) {
                diverge("no storage");
                return;
            }
        }
        m_exports.push_back(std::move(e));
        if (m_exports.size() > 8) m_exports.pop_front();
    }

    void importType() {
        if (m_exports.empty()) return;
        const Export& e = m_exports[below(uint32_t(m_exports.size()))];
        m_op = "importTypeData " + (e.type ? e.type->name : std::string("(refused export)"));
        // An import puts the exported entry in place as it was; a storage of
        // a refused export holds no entry to read (the raw code 27).
        DWORD expected = 27;
        if (e.type) {
            m_model.state.types[e.typeId] = *e.type;
            forgetObject(e.typeId); // a new entry
            expected = 0;
        }
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->importTypeData(e.storage, &ret), S_OK);
        same("pRet", ret, expected);
    }

    // What a save answers: before it writes, every type whose data is to be
    // re-read is refreshed, in identifier order, and a type whose object is
    // cached cannot be (0xBE020006, nothing written; the types before it
    // are refreshed all the same).
    DWORD expectedSave() {
        for (auto it = m_needsRefresh.begin(); it != m_needsRefresh.end();) {
            if (m_cached.count(*it)) return DWORD(0xBE020006);
            it = m_needsRefresh.erase(it);
        }
        m_lastSaved = m_model.state;
        m_timerPending = false;
        m_cachedKnown = false;
        return kOk;
    }

    void save() {
        if (!m_saves) return;
        // Half the saves come after the cached objects were let go; the
        // others fail while a type to be re-read has its object cached
        // (when the model knows which are).
        if (chance(50) || !m_cachedKnown) releaseCachedObjects();
        m_op = "saveChanges";
        const DWORD expected = expectedSave();
        if (!m_inst) return;
        DWORD ret = kUntouched;
        same("HRESULT", m_inst->saveChanges(&ret), S_OK);
        same("pRet", ret, expected);
    }

    // A removed type takes its class element, and with a package the
    // files listed there, out of the document.
    void removed(const GUID& id) {
        forgetObject(id);
        if (id == TYPEID_SamplePackage) m_model.state.packageFiles.clear();
    }

    // A type whose entry went or was replaced, or whose object was made
    // afresh, has no cached object and nothing to re-read.
    void forgetObject(const GUID& id) {
        m_cached.erase(id);
        m_needsRefresh.erase(id);
    }

public:
    // Lets every cached type object go, as a caller does before it saves:
    // a native object of the type is made (and released), which lets the
    // cached one die and re-reads the type's data.
    void releaseCachedObjects() {
        for (const GUID& id : m_cached) {
            m_needsRefresh.erase(id);
            if (!m_inst) continue;
            m_op = "createNativeTypeObject " + typeLabel(id);
            ComPtr<IUnknown> object;
            DWORD ret = kUntouched;
            same("HRESULT", m_inst->createNativeTypeObject(id, 0x3B7C5E08u, &object, &ret), S_OK);
            same("pRet", ret, kOk);
        }
        m_cached.clear();
        m_cachedKnown = true;
    }

private:
    RegistryModel& m_model;
    std::mt19937_64 m_random;
    bool m_saves;
    bool m_timerPending = false;
    std::set<GUID> m_cached;       // types whose object the installation caches
    std::set<GUID> m_needsRefresh; // types whose data a save re-reads first
    // False after a save: it describes the types still new, each through a
    // native object, which lets a cached object of the type go; m_cached
    // then holds the types whose object may be cached.
    bool m_cachedKnown = true;
    CZEBIntInstallation* m_inst = nullptr;
    uint64_t m_ops = 0;
    uint64_t m_accepted = 0, m_refused = 0;
    size_t m_mostFiles = 0;
    std::string m_op;
    std::string m_divergence;
    ModelState m_lastSaved;
    std::deque<Export> m_exports;
};

// ---- the killed writer

// How a child goes on from the parent's save: segments of operations, each
// ended by a save.
struct ChildPlan {
    uint32_t segments;
    uint32_t length;
    static ChildPlan of(uint64_t seed) {
        std::mt19937_64 random(seed ^ 0x5EED5EEDu);
        return ChildPlan{uint32_t(3 + random() % 4), uint32_t(20 + random() % 60)};
    }
};

// The child: opens the installation the parent saved, takes what it holds as
// its model, and runs the plan, reporting "saved <k>" after the k-th save
// (one write per line: a pipe keeps it whole) and "diverged <text>" when an
// answer differs. Then it waits to be killed.
ZEB_CHILD_SCENARIO(modelWriter) {
    const int report = int(envNumber("ZEB_MODEL_REPORT_FD", -1));
    auto say = [&](const std::string& line) {
        const std::string text = line + "\n";
        return ::write(report, text.data(), text.size()) == ssize_t(text.size());
    };
    World world;
    Session session;
    if (!session.open(std::getenv("ZEB_MODEL_CONFIG"))) {
        say("diverged the child could not open the installation as its writer");
        return std::string("no installation");
    }
    RegistryModel model;
    model.state = readState(*session.inst);
    readStorages(std::getenv("ZEB_MODEL_STORAGES"), model.state);
    const uint64_t seed = std::strtoull(std::getenv("ZEB_MODEL_CHILD_SEED"), nullptr, 10);
    const ChildPlan plan = ChildPlan::of(seed);
    Driver driver(model, seed, false);
    driver.attach(session.inst.get());
    for (uint32_t k = 1; k <= plan.segments; ++k) {
        for (uint32_t i = 0; i < plan.length && driver.divergence().empty(); ++i)
            driver.step();
        if (!driver.divergence().empty()) {
            say("diverged " + driver.divergence());
            return driver.divergence();
        }
        driver.releaseCachedObjects();
        DWORD ret = kUntouched;
        if (!driver.divergence().empty() || session.inst->saveChanges(&ret) != S_OK || ret != 0) {
            say("diverged save " + std::to_string(k) + " failed");
            return std::string("save failed");
        }
        say("saved " + std::to_string(k) + " " + digest(model.state));
    }
    say("done");
    for (;;)
        std::this_thread::sleep_for(std::chrono::seconds(1));
}

using zeb::test::readReportLines;
using zeb::test::ReportingChild;

ReportingChild startChild(const std::vector<std::pair<std::string, std::string>>& env) {
    return zeb::test::startReportingChild(env, "ZEB_MODEL_REPORT_FD");
}

class RegistryModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::mkdir(config.c_str(), 0755);
        ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
    }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    std::string config = dir.file("config");
};

TEST_F(RegistryModelTest, RandomOperationsSavesReopensAndKilledWritersAgreeWithTheModel) {
    const long long total = envNumber("ZEB_MODEL_OPS", kSanitized ? 15000 : 100000);
    const uint64_t seed =
        uint64_t(envNumber("ZEB_MODEL_SEED", (long long)(std::random_device{}() & 0x7FFFFFFF)));
    std::printf("model test: %lld operations, seed %llu (ZEB_MODEL_SEED=%llu replays it)\n", total,
                (unsigned long long)seed, (unsigned long long)seed);
    std::fflush(stdout); // a run that hangs or dies still shows its seed
    SCOPED_TRACE("ZEB_MODEL_SEED=" + std::to_string(seed));

    World world;
    Session session;
    ASSERT_TRUE(session.open(config));
    RegistryModel model;
    Driver driver(model, seed, true);
    driver.attach(session.inst.get());
    driver.saved();

    std::mt19937_64 events(seed * 0x9E3779B97F4A7C15ull + 1);
    int reopens = 0, kills = 0, killsInFlight = 0;
    uint64_t childOps = 0;
    const auto started = Clock::now();
    auto nextEvent = [&] { return driver.operations() + 200 + events() % 300; };
    uint64_t eventAt = nextEvent();
    while ((long long)driver.operations() < total && driver.divergence().empty()) {
        driver.step();
        if (driver.operations() < eventAt) continue;
        eventAt = nextEvent();
        driver.releaseCachedObjects();
        const uint64_t what = events() % 4;
        if (what < 2) {
            // Reopen in this process, after a save or not.
            if (what == 0) {
                DWORD ret = kUntouched;
                ASSERT_EQ(session.inst->saveChanges(&ret), S_OK);
                ASSERT_EQ(ret, 0u) << "save before a reopen";
                driver.saved();
            }
            driver.released();
            session.close();
            ASSERT_TRUE(session.open(config)) << "reopen " << reopens;
            driver.attach(session.inst.get());
            model.state = driver.lastSaved();
            driver.checkAll("after a reopen");
            ++reopens;
            continue;
        }
        // Save, and hand the file to a writer that is killed.
        DWORD ret = kUntouched;
        ASSERT_EQ(session.inst->saveChanges(&ret), S_OK);
        ASSERT_EQ(ret, 0u) << "save before a child";
        driver.saved();
        driver.checkAll("after the save a child starts from");
        if (!driver.divergence().empty()) break;
        session.close();
        driver.attach(nullptr);

        // What each save of the child writes, followed in the model alone.
        const uint64_t childSeed = events();
        const ChildPlan plan = ChildPlan::of(childSeed);
        std::vector<ModelState> saved{model.state};
        {
            RegistryModel follower;
            follower.state = model.state;
            Driver shadow(follower, childSeed, false);
            for (uint32_t k = 1; k <= plan.segments; ++k) {
                for (uint32_t i = 0; i < plan.length; ++i)
                    shadow.step();
                shadow.releaseCachedObjects();
                saved.push_back(follower.state);
            }
        }
        const std::string result = dir.file("child-result");
        const std::string storages = dir.file("child-storages");
        writeStorages(storages, model.state);
        ReportingChild child = startChild({{"ZEB_CHILD_SCENARIO", "modelWriter"},
                                           {"ZEB_CHILD_SCENARIO_RESULT", result},
                                           {"ZEB_MODEL_CONFIG", config},
                                           {"ZEB_MODEL_STORAGES", storages},
                                           {"ZEB_MODEL_CHILD_SEED", std::to_string(childSeed)}});
        ASSERT_GT(child.pid, 0);
        std::string pending;
        std::vector<std::string> lines;
        // Kill after some of the saves, at a random moment of the next
        // segment or save.
        const size_t wanted = size_t(events() % plan.segments);
        readReportLines(child.report, Clock::now() + std::chrono::seconds(120), pending, lines,
                        wanted);
        const auto delay = std::chrono::microseconds(events() % (kSanitized ? 200000 : 40000));
        readReportLines(child.report, Clock::now() + delay, pending, lines);
        ::kill(child.pid, SIGKILL);
        readReportLines(child.report, Clock::now() + std::chrono::seconds(30), pending, lines);
        ::close(child.report);
        ::waitpid(child.pid, nullptr, 0);
        size_t completed = 0;
        for (const std::string& line : lines) {
            ASSERT_NE(line.rfind("diverged", 0), 0u)
                << "child (seed " << childSeed << "): " << line;
            if (line.rfind("saved ", 0) != 0) continue;
            completed = std::stoul(line.substr(6));
            ASSERT_EQ(line, "saved " + std::to_string(completed) + " " + digest(saved[completed]))
                << "the child (seed " << childSeed << ") went another way than its model";
        }
        childOps += uint64_t(plan.length) * std::min<size_t>(completed + 1, plan.segments);

        ASSERT_TRUE(session.open(config)) << "the file the killed child left does not open";
        driver.attach(session.inst.get());
        const ModelState found = readState(*session.inst);
        if (found == saved[completed]) {
            model.state = saved[completed];
        } else if (completed + 1 < saved.size() && found == saved[completed + 1]) {
            model.state = saved[completed + 1];
            ++killsInFlight;
        } else {
            std::string other = "none";
            for (size_t k = 0; k < saved.size(); ++k)
                if (found == saved[k]) other = std::to_string(k);
            FAIL() << "after the kill of a child (seed " << childSeed << ") that completed "
                   << completed << " saves of " << plan.segments << " the file holds save " << other
                   << ": " << difference(found, saved[completed]);
        }
        driver.saved();
        driver.forgetExports();
        ++kills;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    ASSERT_EQ(driver.divergence(), "") << "ZEB_MODEL_SEED=" << seed;
    driver.checkAll("at the end");
    ASSERT_EQ(driver.divergence(), "") << "ZEB_MODEL_SEED=" << seed;
    std::printf("model test: %llu operations in %.1f s (%.0f/s; %llu answered 0, %llu refused), "
                "%d reopens, %d killed writers (%d with the save in flight on disk, %llu "
                "operations in them), %zu types at the end, up to %zu package files\n",
                (unsigned long long)driver.operations(), seconds, driver.operations() / seconds,
                (unsigned long long)driver.accepted(), (unsigned long long)driver.refused(),
                reopens, kills, killsInFlight, (unsigned long long)childOps,
                model.state.types.size(), driver.mostPackageFiles());
}

} // namespace
