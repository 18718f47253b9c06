// The type commands: install, remove, types, show, attr and snapin.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/Session.h"
#include "host/zebinst/XmlText.h"

#include "h/ResultCodes.h"
#include "platform/com/Activation.h"
#include "platform/com/Guid.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace zebinst {

namespace {

#define ZEBINST_TYPE_ARG                                                                           \
    "A type is named by its name (\"SampleDrive.1.0\", any case), by its\n"                        \
    "version-independent name (\"SampleDrive\": the newest installed version) or\n"                \
    "by its identifier in registry form (\"{5A3E1001-7B1C-4C2A-9E10-3D5F00000001}\").\n"           \
    "An unknown type: exit 2.\n"

constexpr const char* kInstallHelp = R"(usage: zebinst [-C DIR] install CLSID|PROGID [--class CLASS]
       zebinst [-C DIR] install CLSID|PROGID --class CLASS --id GUID --name NAME

Installs the type whose type object has the class CLSID (registry form) or
the ProgID (e.g. Zeb.SampleDrive.1 after 'zebinst register-samples'), as a
type of CLASS, and saves. The type object gives the type its name and
identifier; the second form gives them itself (classes Device, TObject,
Package, Program, GenericObject: a type class factory such as the sample
generic type).

CLASS: Device (the default), TObject, Package, ProcessingUnit, Program,
SubObj, ProjectGlobal, Library, GenericObject, or its number 0-8.
The installation refuses a class its type object does not serve (exit 3).
)";

constexpr const char* kRemoveHelp = "usage: zebinst [-C DIR] remove NAME|ID\n\n"
                                    "Removes the installed type and saves.\n\n" ZEBINST_TYPE_ARG;

constexpr const char* kTypesHelp = R"(usage: zebinst [-C DIR] types [--class CLASS] [--json]

Lists the installed types: identifier, class, name and runtime identifier
(family GUID and version; "-" when the type has none). The installation's
own internal type is left out. --class lists one class only (a name or
number as for install). Read only.
)";

constexpr const char* kShowHelp =
    "usage: zebinst [-C DIR] show NAME|ID [--json]\n\n"
    "Shows an installed type: name, identifier, class, CLSID, runtime identifier,\n"
    "snap-ins (the default marked), extension types, attributes, and its element\n"
    "of the classification document. Read only.\n\n" ZEBINST_TYPE_ARG;

constexpr const char* kAttrHelp =
    "usage: zebinst [-C DIR] attr get NAME|ID KEY\n"
    "       zebinst [-C DIR] attr set NAME|ID KEY VALUE\n"
    "       zebinst [-C DIR] attr remove NAME|ID KEY\n"
    "       zebinst [-C DIR] attr list NAME|ID [--json]\n\n"
    "Reads or changes the attributes of an installed type; set and remove save.\n"
    "Attribute names begin with BI_ or PBI_ (others are refused: exit 3).\n"
    "Setting or removing BI_TYPE_PDFILENAME (the type's PD-file in the\n"
    "configuration directory) describes the type again when saving. An absent\n"
    "attribute: exit 2.\n\n" ZEBINST_TYPE_ARG;

constexpr const char* kSnapInHelp =
    "usage: zebinst [-C DIR] snapin add NAME|ID SNAPIN-GUID\n"
    "       zebinst [-C DIR] snapin remove NAME|ID SNAPIN-GUID\n"
    "       zebinst [-C DIR] snapin default NAME|ID SNAPIN-GUID\n\n"
    "Adds, removes or makes default a snap-in of an installed type and saves.\n"
    "The first snap-in added is the default; removing the default makes the first\n"
    "remaining one the default. An absent snap-in: exit 2.\n\n" ZEBINST_TYPE_ARG;

constexpr const char* kPdFileAttribute = "BI_TYPE_PDFILENAME";

TypeClass parseClass(const std::string& text) {
    if (text.size() == 1 && text[0] >= '0' && text[0] <= '8') return TypeClass(text[0] - '0');
    for (int c = TC_Device; c <= TC_GenericObject; ++c) {
        const std::string name = typeClassName(TypeClass(c));
        if (name.size() == text.size() &&
            std::equal(name.begin(), name.end(), text.begin(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return TypeClass(c);
    }
    throw CommandError(kExitUsage, "unknown class '" + text +
                                       "' (Device, TObject, Package, ProcessingUnit, Program, "
                                       "SubObj, ProjectGlobal, Library, GenericObject or 0-8)");
}

std::string narrow(BSTR text) {
    return text ? zeb::toNarrow(std::u16string(text, SysStringLen(text))) : std::string();
}

std::string runtimeText(const RTTypeID& rt) {
    return zeb::guidToString(rt.guidVersion) + " " + std::to_string(rt.nMajor) + "." +
           std::to_string(rt.nMinor);
}

// A runtime identifier as a JSON object ({family, major, minor}), or null.
void writeRuntimeId(JsonWriter& out, bool hasRt, const RTTypeID& rt) {
    if (!hasRt) {
        out.null();
        return;
    }
    out.beginObject()
        .key("family")
        .value(zeb::guidToString(rt.guidVersion))
        .key("major")
        .value(int64_t(rt.nMajor))
        .key("minor")
        .value(int64_t(rt.nMinor))
        .endObject();
}

bool runtimeId(CZEBIntInstallation& inst, const GUID& id, RTTypeID& rt) {
    return inst.typeCont().getRTIDByTypeID(id, rt) == 0 && !(rt == RTTYPEID_INVALID);
}

// Fails the command when the installation refused: `what` names the operation.
void check(HRESULT hr, const DWORD& ret, const std::string& what) {
    if (FAILED(hr))
        throw CommandError(
            kExitFailure, what + ": the call failed (HRESULT 0x" + [&] {
                char b[12];
                std::snprintf(b, sizeof b, "%08X", unsigned(hr));
                return std::string(b);
            }() + ")");
    if (ret != 0) throw CommandError(statusOfResult(ret), what + ": " + resultText(ret));
}

std::vector<std::pair<std::string, std::string>> attributes(CZEBIntInstallation& inst,
                                                            const GUID& id) {
    std::vector<std::pair<std::string, std::string>> list;
    DWORD count = 0, ret = 0;
    ZEB_AttrPair* pairs = nullptr;
    if (SUCCEEDED(inst.getAttrListByTypeID(id, &count, &pairs, &ret)) && ret == 0 && pairs) {
        for (DWORD i = 0; i < count; ++i) {
            list.emplace_back(narrow(pairs[i].key), narrow(pairs[i].value));
            SysFreeString(pairs[i].key);
            SysFreeString(pairs[i].value);
        }
    }
    CoTaskMemFree(pairs);
    return list;
}

std::string typeLabel(Session& s, const GUID& id) {
    return s.typeName(id) + " " + zeb::guidToString(id);
}

int runInstall(Invocation& in) {
    const std::optional<std::string> cls = in.args.option("--class");
    const std::optional<std::string> idText = in.args.option("--id");
    const std::optional<std::string> name = in.args.option("--name");
    const std::string what = in.args.positional("CLSID or PROGID");
    in.args.finish();
    const TypeClass typeClass = cls ? parseClass(*cls) : TC_Device;
    if (idText.has_value() != name.has_value())
        throw CommandError(kExitUsage, "--id and --name go together");
    GUID typeId{};
    if (idText) typeId = guidArgument(*idText, "type identifier");

    CLSID clsid{};
    if (!what.empty() && what[0] == '{') {
        clsid = guidArgument(what, "CLSID");
    } else {
        const std::u16string progId = zeb::toWide(what);
        if (FAILED(CLSIDFromProgID(progId.c_str(), &clsid)))
            throw CommandError(kExitNotFound, "no class registered under the ProgID " + what +
                                                  " (in " + zeb::RegistryStore::path() + ")");
    }

    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    const std::vector<GUID> before = inst.typeCont().getTypeIDList();
    DWORD ret = 0;
    HRESULT hr = idText ? inst.addTypeByClass(clsid, typeClass, typeId, name->c_str(), &ret)
                        : inst.addTypeByClass(clsid, typeClass, &ret);
    check(hr, ret,
          "cannot install " + zeb::guidToString(clsid) + " as " + typeClassName(typeClass));
    if (!idText) {
        const std::set<GUID> old(before.begin(), before.end());
        for (const GUID& id : inst.typeCont().getTypeIDList())
            if (!old.count(id)) typeId = id;
    }
    session.save();
    std::printf("installed %s as %s\n", typeLabel(session, typeId).c_str(),
                typeClassName(typeClass));
    return kExitOk;
}

int runRemove(Invocation& in) {
    const std::string arg = in.args.positional("NAME|ID");
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    const GUID id = session.resolveType(arg);
    const std::string label = typeLabel(session, id);
    DWORD ret = 0;
    check(inst.removeType(id, &ret), ret, "cannot remove " + label);
    session.save();
    std::printf("removed %s\n", label.c_str());
    return kExitOk;
}

int runTypes(Invocation& in) {
    const std::optional<std::string> cls = in.args.option("--class");
    const bool json = in.args.flag("--json");
    in.args.finish();
    std::optional<TypeClass> only;
    if (cls) only = parseClass(*cls);
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
    std::vector<GUID> ids =
        only ? inst.typeCont().getTypeIDListByClass(*only) : inst.typeCont().getTypeIDList();
    std::erase(ids, CIsTypeCont::kInternalTypeId);
    std::sort(ids.begin(), ids.end(), [&](const GUID& a, const GUID& b) {
        return session.typeName(a) < session.typeName(b);
    });
    JsonWriter out;
    out.beginArray();
    if (!json && !ids.empty())
        std::printf("%-38s  %-13s  %-20s  %s\n", "IDENTIFIER", "CLASS", "NAME", "RUNTIME ID");
    for (const GUID& id : ids) {
        RTTypeID rt{};
        const bool hasRt = runtimeId(inst, id, rt);
        if (json) {
            out.beginObject()
                .key("id")
                .value(zeb::guidToString(id))
                .key("class")
                .value(session.className(id))
                .key("name")
                .value(session.typeName(id))
                .key("runtimeId");
            writeRuntimeId(out, hasRt, rt);
            out.endObject();
        } else {
            std::printf("%-38s  %-13s  %-20s  %s\n", zeb::guidToString(id).c_str(),
                        session.className(id).c_str(), session.typeName(id).c_str(),
                        hasRt ? runtimeText(rt).c_str() : "-");
        }
    }
    out.endArray();
    if (json)
        printJson(out);
    else if (ids.empty())
        std::printf("no types installed\n");
    return kExitOk;
}

int runShow(Invocation& in) {
    const bool json = in.args.flag("--json");
    const std::string arg = in.args.positional("NAME|ID");
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
    const GUID id = session.resolveType(arg);
    CIsTypeCont& types = inst.typeCont();

    CLSID clsid = GUID_NULL;
    types.getClsid(id, clsid);
    RTTypeID rt{};
    const bool hasRt = runtimeId(inst, id, rt);
    std::vector<CLSID> snapIns;
    types.getSnapInList(id, snapIns);
    CLSID def = GUID_NULL;
    const bool hasDefault = types.getDefaultSnapIn(id, def) == 0 && !snapIns.empty();
    std::vector<GUID> exts;
    types.getExtTypeList(id, exts);
    const auto attrs = attributes(inst, id);
    std::string element;
    if (auto found = inst.classification().findTypeElement(id))
        element = prettyXml(zeb::toNarrow(found.xml()));
    auto extName = [&](const GUID& ext) {
        String n;
        return types.getExtTypeName(id, ext, n) == 0 ? std::string(n.view()) : std::string();
    };

    if (json) {
        JsonWriter out;
        out.beginObject()
            .key("id")
            .value(zeb::guidToString(id))
            .key("name")
            .value(session.typeName(id))
            .key("class")
            .value(session.className(id))
            .key("clsid")
            .value(zeb::guidToString(clsid))
            .key("runtimeId");
        writeRuntimeId(out, hasRt, rt);
        out.key("snapIns").beginArray();
        for (const CLSID& s : snapIns)
            out.value(zeb::guidToString(s));
        out.endArray().key("defaultSnapIn");
        if (hasDefault)
            out.value(zeb::guidToString(def));
        else
            out.null();
        out.key("extensions").beginArray();
        for (const GUID& e : exts)
            out.beginObject()
                .key("id")
                .value(zeb::guidToString(e))
                .key("name")
                .value(extName(e))
                .endObject();
        out.endArray().key("attributes").beginObject();
        for (const auto& [k, v] : attrs)
            out.key(k).value(v);
        out.endObject().key("description").value(element).endObject();
        printJson(out);
        return kExitOk;
    }
    std::printf("name        %s\n", session.typeName(id).c_str());
    std::printf("identifier  %s\n", zeb::guidToString(id).c_str());
    std::printf("class       %s\n", session.className(id).c_str());
    std::printf("CLSID       %s\n", zeb::guidToString(clsid).c_str());
    std::printf("runtime id  %s\n", hasRt ? runtimeText(rt).c_str() : "-");
    std::printf("snap-ins%s\n", snapIns.empty() ? "    -" : "");
    for (const CLSID& s : snapIns)
        std::printf("  %s%s\n", zeb::guidToString(s).c_str(),
                    hasDefault && s == def ? "  (default)" : "");
    std::printf("extensions%s\n", exts.empty() ? "  -" : "");
    for (const GUID& e : exts)
        std::printf("  %s  %s\n", zeb::guidToString(e).c_str(), extName(e).c_str());
    std::printf("attributes%s\n", attrs.empty() ? "  -" : "");
    for (const auto& [k, v] : attrs)
        std::printf("  %s = %s\n", k.c_str(), v.c_str());
    std::printf("description%s\n", element.empty() ? " (none in the classification document)" : "");
    std::string indented;
    for (size_t pos = 0; pos < element.size();) {
        size_t end = element.find('\n', pos);
        if (end == std::string::npos) end = element.size();
        indented += "  " + element.substr(pos, end - pos) + "\n";
        pos = end + 1;
    }
    std::fputs(indented.c_str(), stdout);
    return kExitOk;
}

// After a change of the PD-file attribute the type's description is out of
// date: its class element goes back to New, and the save describes it again.
void describeAgain(CZEBIntInstallation& inst, Session& session, const GUID& id,
                   const std::string& key) {
    std::string upper = key;
    for (char& c : upper)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    if (upper != kPdFileAttribute || !inst.classification().findTypeElement(id)) return;
    const TypeClass typeClass = inst.typeCont().getTypeClass(id);
    if (inst.classification().removeXMLType(id) != 0 ||
        inst.classification().addXMLType(id, inst.typeCont().getTypeNameByID(id), typeClass) != 0)
        throw CommandError(kExitFailure, "cannot describe " + session.typeName(id) + " again");
}

int runAttr(Invocation& in) {
    const std::string action = in.args.positional("action (get, set, remove or list)");
    if (action != "get" && action != "set" && action != "remove" && action != "list")
        throw CommandError(kExitUsage, "attr: unknown action '" + action + "'");
    const bool json = action == "list" && in.args.flag("--json");
    const std::string arg = in.args.positional("NAME|ID");
    const std::string key = action == "list" ? std::string() : in.args.positional("KEY");
    const std::string value = action == "set" ? in.args.positional("VALUE") : std::string();
    in.args.finish();
    const bool writes = action == "set" || action == "remove";
    Session session(in.configDir);
    CZEBIntInstallation& inst =
        session.open(writes ? Session::Access::Write : Session::Access::ReadOnly);
    const GUID id = session.resolveType(arg);
    const std::string name = session.typeName(id);
    DWORD ret = 0;
    if (action == "list") {
        const auto attrs = attributes(inst, id);
        if (json) {
            JsonWriter out;
            out.beginObject();
            for (const auto& [k, v] : attrs)
                out.key(k).value(v);
            printJson(out.endObject());
        } else {
            for (const auto& [k, v] : attrs)
                std::printf("%s = %s\n", k.c_str(), v.c_str());
        }
        return kExitOk;
    }
    if (action == "get") {
        BSTR text = nullptr;
        const HRESULT hr = inst.getAttributeByTypeID(id, zeb::Bstr(key.c_str()), &text, &ret);
        const std::string got = narrow(text);
        SysFreeString(text);
        if (SUCCEEDED(hr) && ret == (PRET_BASE | IS_NOT_FOUND))
            throw CommandError(kExitNotFound, name + " has no attribute " + key);
        check(hr, ret, "cannot read " + key + " of " + name);
        std::printf("%s\n", got.c_str());
        return kExitOk;
    }
    if (action == "set") {
        check(inst.setAttributeByTypeID(id, zeb::Bstr(key.c_str()), zeb::Bstr(value.c_str()), &ret),
              ret, "cannot set " + key + " of " + name);
        describeAgain(inst, session, id, key);
        session.save();
        std::printf("set %s %s = %s\n", name.c_str(), key.c_str(), value.c_str());
        return kExitOk;
    }
    const HRESULT hr = inst.removeAttributeByTypeID(id, zeb::Bstr(key.c_str()), &ret);
    if (SUCCEEDED(hr) && ret == (PRET_BASE | IS_NOT_FOUND))
        throw CommandError(kExitNotFound, name + " has no attribute " + key);
    check(hr, ret, "cannot remove " + key + " of " + name);
    describeAgain(inst, session, id, key);
    session.save();
    std::printf("removed %s %s\n", name.c_str(), key.c_str());
    return kExitOk;
}

int runSnapIn(Invocation& in) {
    const std::string action = in.args.positional("action (add, remove or default)");
    if (action != "add" && action != "remove" && action != "default")
        throw CommandError(kExitUsage, "snapin: unknown action '" + action + "'");
    const std::string arg = in.args.positional("NAME|ID");
    const GUID snapIn = guidArgument(in.args.positional("SNAPIN-GUID"), "snap-in");
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    const GUID id = session.resolveType(arg);
    const std::string name = session.typeName(id);
    const std::string snap = zeb::guidToString(snapIn);
    DWORD ret = 0;
    if (action == "add") {
        check(inst.addSnapInByTypeID(id, snapIn, &ret), ret,
              "cannot add snap-in " + snap + " to " + name);
    } else if (action == "remove") {
        // The installation answers the removal of an absent snap-in as done.
        std::vector<CLSID> present;
        inst.typeCont().getSnapInList(id, present);
        if (std::find(present.begin(), present.end(), snapIn) == present.end())
            throw CommandError(kExitNotFound, name + " has no snap-in " + snap);
        check(inst.removeSnapInByTypeID(id, snapIn, &ret), ret,
              "cannot remove snap-in " + snap + " of " + name);
    } else {
        check(inst.setDefaultSnapInByTypeID(id, snapIn, &ret), ret,
              "cannot make " + snap + " the default snap-in of " + name);
    }
    session.save();
    if (action == "add")
        std::printf("added snap-in %s to %s\n", snap.c_str(), name.c_str());
    else if (action == "remove")
        std::printf("removed snap-in %s of %s\n", snap.c_str(), name.c_str());
    else
        std::printf("snap-in %s is the default of %s\n", snap.c_str(), name.c_str());
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"install", "install a type by its type object's CLSID or ProgID", kInstallHelp, runInstall},
    {"remove", "remove an installed type", kRemoveHelp, runRemove},
    {"types", "list the installed types", kTypesHelp, runTypes},
    {"show", "show an installed type", kShowHelp, runShow},
    {"attr", "get, set, remove or list a type's attributes", kAttrHelp, runAttr},
    {"snapin", "add, remove or make default a type's snap-in", kSnapInHelp, runSnapIn},
};

} // namespace

std::span<const Command> typeCommands() {
    return kCommands;
}

} // namespace zebinst
