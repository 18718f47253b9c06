// The query command: registers, removes, lists and runs the named XPath
// queries of the installation.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/Session.h"

#include "platform/com/Bstr.h"
#include "platform/com/SafeArray.h"
#include "platform/com/Variant.h"
#include "platform/win/TextConvert.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace zebinst {

namespace {

constexpr const char* kQueryHelp = R"(usage: zebinst [-C DIR] query register ID XPATH
       zebinst [-C DIR] query unregister ID
       zebinst [-C DIR] query list [--json]
       zebinst [-C DIR] query run ID [--type NAME|ID] [--param V]...

Named XPath queries on the classification document. register stores XPATH
under ID (identifiers are case-sensitive; one already registered: exit 3)
and saves; unregister removes it (unknown: exit 2) and saves. list shows the
registered queries (read only).

run evaluates query ID (read only) and prints the text of each selected
attribute on a line of its own, in document order. With --type, every
"%estypeid" in the query is the type's identifier; with --param, %param1%,
%param2%, ... are the values given, in order, matched as text. A query that
is not registered or selects nothing: exit 2; one that selects something
other than attributes, has placeholders left, or is no valid XPath: exit 3.
A type is named by its name, its version-independent name or its identifier.
)";

// The texts of a query result.
std::vector<std::string> resultTexts(const VARIANT& v) {
    std::vector<std::string> out;
    auto text = [](BSTR s) { return zeb::toNarrow(std::u16string_view(s, SysStringLen(s))); };
    if (v.vt == VT_BSTR) {
        out.push_back(text(v.bstrVal));
    } else if (v.vt == (VT_ARRAY | VT_BSTR)) {
        LONG lower = 0, upper = -1;
        SafeArrayGetLBound(v.parray, 1, &lower);
        SafeArrayGetUBound(v.parray, 1, &upper);
        for (LONG i = lower; i <= upper; ++i) {
            BSTR s = nullptr;
            if (SUCCEEDED(SafeArrayGetElement(v.parray, &i, &s))) out.push_back(text(s));
            SysFreeString(s);
        }
    }
    return out;
}

// The query codes, which are plain numbers (not installation result words).
void checkQuery(HRESULT hr, DWORD ret, const std::string& id) {
    if (FAILED(hr))
        throw CommandError(kExitFailure,
                           "query " + id + " is no valid XPath or passes the query limits");
    switch (ret) {
    case 0:
        return;
    case 13:
        throw CommandError(kExitNotFound, "no query " + id);
    case 44:
        throw CommandError(kExitNotFound, "query " + id + " selects nothing");
    case 9:
        throw CommandError(kExitFailure,
                           "query " + id + " selects something other than attributes");
    case 29:
        throw CommandError(kExitFailure, "query " + id +
                                             ": placeholder problem (no %estypeid, a parameter "
                                             "it does not use, one left over, or a value that "
                                             "cannot stand where its placeholder is)");
    default:
        throw CommandError(kExitFailure, "query " + id + " failed (" + std::to_string(ret) + ")");
    }
}

int runRegister(Invocation& in) {
    const std::string id = in.args.positional("ID");
    const std::string xpath = in.args.positional("XPATH");
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    DWORD ret = 0;
    const HRESULT hr = inst.registerXPathQuery(id.c_str(), xpath.c_str(), &ret);
    if (FAILED(hr) || ret == 4)
        throw CommandError(kExitFailure, "query " + id + " is registered already");
    if (ret != 0) throw CommandError(kExitFailure, "cannot register query " + id);
    session.save();
    std::printf("registered query %s\n", id.c_str());
    return kExitOk;
}

int runUnregister(Invocation& in) {
    const std::string id = in.args.positional("ID");
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    DWORD ret = 0;
    const HRESULT hr = inst.unregisterXPathQuery(id.c_str(), &ret);
    if (SUCCEEDED(hr) && ret == 5) throw CommandError(kExitNotFound, "no query " + id);
    if (FAILED(hr) || ret != 0) throw CommandError(kExitFailure, "cannot unregister query " + id);
    session.save();
    std::printf("unregistered query %s\n", id.c_str());
    return kExitOk;
}

int runList(Invocation& in) {
    const bool json = in.args.flag("--json");
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
    JsonWriter out;
    out.beginArray();
    for (const auto& [id, xpath] : inst.xpathMap().entries()) {
        if (json)
            out.beginObject()
                .key("id")
                .value(id.view())
                .key("xpath")
                .value(xpath.view())
                .endObject();
        else
            std::printf("%s\t%s\n", id.c_str(), xpath.c_str());
    }
    out.endArray();
    if (json)
        printJson(out);
    else if (inst.xpathMap().size() == 0)
        std::printf("no queries registered\n");
    return kExitOk;
}

int runRun(Invocation& in) {
    const std::optional<std::string> type = in.args.option("--type");
    std::vector<zeb::Variant> params;
    while (std::optional<std::string> p = in.args.option("--param"))
        params.emplace_back(p->c_str());
    const std::string id = in.args.positional("ID");
    in.args.finish();
    if (type && !params.empty())
        throw CommandError(kExitUsage, "query run: --type and --param do not go together");
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
    zeb::Bstr queryId(id);
    zeb::Variant result;
    DWORD ret = 0;
    HRESULT hr;
    if (type) {
        const GUID typeId = session.resolveType(*type);
        hr = inst.getTypeDescrAttr(typeId, queryId, &result, &ret);
    } else if (!params.empty()) {
        hr = inst.getTypeDescrParam(LONG(params.size()), params.data(), queryId, &result, &ret);
    } else {
        hr = inst.getTypeDescr(queryId, &result, &ret);
    }
    checkQuery(hr, ret, id);
    for (const std::string& text : resultTexts(result))
        std::printf("%s\n", text.c_str());
    return kExitOk;
}

int runQuery(Invocation& in) {
    const std::string sub = in.args.positional("register|unregister|list|run");
    if (sub == "register") return runRegister(in);
    if (sub == "unregister") return runUnregister(in);
    if (sub == "list") return runList(in);
    if (sub == "run") return runRun(in);
    throw CommandError(kExitUsage, "query: unknown subcommand " + sub);
}

constexpr Command kCommands[] = {
    {"query", "register, remove, list or run named XPath queries", kQueryHelp, runQuery},
};

} // namespace

std::span<const Command> queryCommands() {
    return kCommands;
}

} // namespace zebinst
