// RegistryModel: what an installation holds, kept in plain maps, and what
// each operation must answer for it. The model-based test runs the same
// random operations on an installation and on this model and compares every
// answer; after a save, a reopen or a killed writer the model is set back to
// the state that must have survived.
//
//   RegistryModel model;
//   DWORD expected = model.addSnapIn(typeId, snapIn);   // the pRet the call must give
//
// The model knows nothing of the installation's code: its rules are the
// documented answers (pRet 0xBE02xxxx codes, the raw codes of the query and
// attribute-list calls) written out once more in the simplest form.
#pragma once

#include "platform/com/Guid.h"
#include "platform/win/WinTypes.h"

#include <algorithm>
#include <map>
#include <string>
#include <vector>

namespace zeb::model {

// pRet values as callers see them.
constexpr DWORD kOk = 0;
constexpr DWORD kPretBadClass = 0xBE02000C;
constexpr DWORD kPretAlreadyPresent = 0xBE020004;
constexpr DWORD kPretNameRule = 0xBE020003;
constexpr DWORD kPretNotFound = 0xBE020005;
constexpr DWORD kPretTypeId = 0xBE02000A;
constexpr DWORD kPretProgramType = 0xBE020038; // also the wrong class of removeTypeByClass
constexpr DWORD kPretEmpty = 0xBE02002C;
constexpr DWORD kPretNameMismatch = 0xBE020019;
constexpr DWORD kPretInvalidAttr = 0xBE02000C;
constexpr DWORD kPretToolAbsent = 0xBE020001;
constexpr DWORD kPretProtection = 0xBE020010;
constexpr DWORD kPretNotCreated = 0xBE020016;

struct ModelExtension {
    std::string name;
    GUID clsid{};
    bool operator==(const ModelExtension&) const = default;
};

struct ModelType {
    std::string name;
    long typeClass = 0;
    std::map<std::u16string, std::u16string> attributes;
    std::vector<GUID> snapIns;
    GUID defaultSnapIn{}; // meaningful while snapIns is not empty
    std::map<GUID, ModelExtension> extensions;

    GUID effectiveDefault() const {
        if (snapIns.empty()) return GUID{};
        return std::find(snapIns.begin(), snapIns.end(), defaultSnapIn) != snapIns.end()
                   ? defaultSnapIn
                   : snapIns.front();
    }
    bool operator==(const ModelType& o) const {
        return name == o.name && typeClass == o.typeClass && attributes == o.attributes &&
               snapIns == o.snapIns && effectiveDefault() == o.effectiveDefault() &&
               extensions == o.extensions;
    }
};

struct ModelTool {
    std::string name;
    GUID clsid{};
    DWORD value = 0;
    bool operator==(const ModelTool&) const = default;
};

// Everything the installation file keeps that the test looks at.
struct ModelState {
    std::map<GUID, ModelType> types; // without the container's internal type
    std::map<GUID, ModelTool> tools;
    std::map<std::string, std::string> queries; // id -> XPath
    // The container's own type ("PmGlobCommon.1.1", class 6): in every new
    // installation, removable, and stored with the other types.
    bool internalType = true;
    // The files listed for the sample package ("SamplePack.1.0"), in order:
    // file name and the device type's identifier.
    std::vector<std::pair<std::string, GUID>> packageFiles;
    // The private storage of each type identifier, stream name -> content
    // (none: empty). A removed type leaves its storage behind.
    std::map<GUID, std::map<std::u16string, std::string>> storages;

    // The storage of `id` (empty when it has none).
    const std::map<std::u16string, std::string>& storage(const GUID& id) const {
        static const std::map<std::u16string, std::string> none;
        auto it = storages.find(id);
        return it == storages.end() ? none : it->second;
    }
    // Equal as far as the installation shows it: the storages of the types
    // installed (those of removed types can be read only once the type is back).
    bool operator==(const ModelState& o) const {
        if (types != o.types || tools != o.tools || queries != o.queries ||
            internalType != o.internalType || packageFiles != o.packageFiles)
            return false;
        for (const auto& entry : types)
            if (storage(entry.first) != o.storage(entry.first)) return false;
        return true;
    }
};

// A-Z folded, as names are compared.
inline std::string folded(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

// "Name.1.0": a word not starting with a digit, then one or more ".digits".
inline bool versioned(const std::string& name) {
    auto word = [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
               c == '_';
    };
    if (name.empty() || !word(name[0]) || (name[0] >= '0' && name[0] <= '9')) return false;
    size_t i = 0;
    while (i < name.size() && word(name[i]))
        ++i;
    bool group = false;
    while (i < name.size()) {
        if (name[i] != '.') return false;
        const size_t digits = ++i;
        while (i < name.size() && name[i] >= '0' && name[i] <= '9')
            ++i;
        if (i == digits) return false;
        group = true;
    }
    return group;
}

class RegistryModel {
public:
    ModelState state;

    const ModelType* type(const GUID& id) const {
        auto it = state.types.find(id);
        return it == state.types.end() ? nullptr : &it->second;
    }
    ModelType* type(const GUID& id) {
        auto it = state.types.find(id);
        return it == state.types.end() ? nullptr : &it->second;
    }
    // The type of this name (letter case aside), null when none.
    const std::pair<const GUID, ModelType>* byName(const std::string& name) const {
        for (const auto& entry : state.types)
            if (folded(entry.second.name) == folded(name)) return &entry;
        return nullptr;
    }

    // A type whose type object names itself `name`, identified by `id`.
    DWORD addTypeByClass(const GUID& id, const std::string& name, long typeClass, bool clsidUsed) {
        if (typeClass < 0 || typeClass > 7 || typeClass == 6) return kPretBadClass;
        if (clsidUsed) return kPretAlreadyPresent;
        if (type(id)) return kPretTypeId;
        if (byName(name) || !versioned(name)) return kPretNameRule;
        state.types[id] = ModelType{name, typeClass, {}, {}, {}, {}};
        return kOk;
    }
    DWORD addGenericType(const GUID& id, const std::string& name, long typeClass, bool noType) {
        if (!(typeClass == 0 || typeClass == 1 || typeClass == 2 || typeClass == 4 ||
              typeClass == 7 || typeClass == 8))
            return kPretBadClass;
        if (noType) return kPretTypeId;
        if (type(id)) return kPretAlreadyPresent;
        // A device type reads its runtime identifier from its object; a
        // generic type object has none: the object counts as not made.
        if (typeClass == 0) return kPretNotCreated;
        if (byName(name) || !versioned(name)) return kPretNameRule;
        state.types[id] = ModelType{name, typeClass, {}, {}, {}, {}};
        return kOk;
    }
    DWORD removeType(const GUID& id) {
        const ModelType* t = type(id);
        if (t && t->typeClass == 4) return kPretProgramType; // program types stay
        if (!state.types.erase(id)) return kPretTypeId;
        return kOk;
    }
    DWORD removeTypeByClass(const GUID& id, long typeClass) {
        if (typeClass < 0 || typeClass > 8 || typeClass == 6) return kPretBadClass;
        const ModelType* t = type(id);
        if (!t || t->typeClass != typeClass) return kPretProgramType;
        state.types.erase(id);
        return kOk;
    }

    static bool attributeName(const std::u16string& key) {
        return key.rfind(u"BI_", 0) == 0 || key.rfind(u"PBI_", 0) == 0;
    }
    DWORD setAttribute(const GUID& id, const std::u16string& key, const std::u16string& value) {
        ModelType* t = type(id);
        if (!t) return kPretTypeId;
        if (!attributeName(key)) return kPretInvalidAttr;
        t->attributes[key] = value;
        return kOk;
    }
    DWORD removeAttribute(const GUID& id, const std::u16string& key) {
        ModelType* t = type(id);
        if (!t) return kPretTypeId;
        return t->attributes.erase(key) ? kOk : kPretNotFound;
    }

    DWORD addSnapIn(const GUID& id, const GUID& snapIn) {
        ModelType* t = type(id);
        if (!t) return kPretTypeId;
        if (std::find(t->snapIns.begin(), t->snapIns.end(), snapIn) != t->snapIns.end())
            return kPretAlreadyPresent;
        t->snapIns.push_back(snapIn);
        if (t->snapIns.size() == 1) t->defaultSnapIn = snapIn;
        return kOk;
    }
    DWORD removeSnapIn(const GUID& id, const GUID& snapIn) {
        ModelType* t = type(id);
        if (!t) return kPretTypeId;
        auto it = std::find(t->snapIns.begin(), t->snapIns.end(), snapIn);
        if (it == t->snapIns.end()) return kPretNotFound;
        const GUID before = t->effectiveDefault();
        t->snapIns.erase(it);
        // The default that goes hands over to the first remaining snap-in.
        if (before == snapIn && !t->snapIns.empty()) t->defaultSnapIn = t->snapIns.front();
        return kOk;
    }
    DWORD setDefaultSnapIn(const GUID& id, const GUID& snapIn) {
        ModelType* t = type(id);
        if (!t) return kPretTypeId;
        if (std::find(t->snapIns.begin(), t->snapIns.end(), snapIn) == t->snapIns.end())
            return kPretNotFound;
        t->defaultSnapIn = snapIn;
        return kOk;
    }

    // An extension whose object names itself `objectName` and answers `extTypeId`.
    DWORD addExtension(const GUID& id, const std::string& name, const GUID& clsid,
                       const std::string& objectName, const GUID& extTypeId) {
        ModelType* t = type(id);
        if (!t) return kPretTypeId;
        for (const auto& [extId, ext] : t->extensions)
            if (folded(ext.name) == folded(name) || ext.clsid == clsid) return kPretAlreadyPresent;
        if (name != objectName) return kPretNameMismatch;
        if (t->extensions.count(extTypeId)) return kPretAlreadyPresent;
        t->extensions[extTypeId] = ModelExtension{name, clsid};
        return kOk;
    }
    DWORD removeExtension(const GUID& id, const GUID& extTypeId) {
        ModelType* t = type(id);
        if (!t) return kPretTypeId;
        return t->extensions.erase(extTypeId) ? kOk : kPretNotFound;
    }

    DWORD addTool(const GUID& id, const std::string& name, const GUID& clsid, DWORD value) {
        if (state.tools.count(id)) return kPretAlreadyPresent;
        for (const auto& [toolId, tool] : state.tools)
            if (folded(tool.name) == folded(name)) return kPretAlreadyPresent;
        if (!versioned(name)) return kPretNameRule;
        for (const auto& [toolId, tool] : state.tools)
            if (tool.clsid == clsid) return kPretAlreadyPresent;
        state.tools[id] = ModelTool{name, clsid, value};
        return kOk;
    }
    DWORD removeTool(const GUID& id) { return state.tools.erase(id) ? kOk : kPretTypeId; }

    // Raw codes, as the query registration answers them.
    DWORD registerQuery(const std::string& id, const std::string& xpath) {
        if (state.queries.count(id)) return 4;
        state.queries[id] = xpath;
        return 0;
    }
    DWORD unregisterQuery(const std::string& id) { return state.queries.erase(id) ? 0 : 5; }
};

} // namespace zeb::model
