// The tool commands: tool add, tool remove, tool list.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/Session.h"

#include "h/ResultCodes.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"

#include <cstdio>
#include <cstdlib>

namespace zebinst {

namespace {

constexpr const char* kToolHelp = R"(usage: zebinst [-C DIR] tool add ID NAME CLSID [VALUE]
       zebinst [-C DIR] tool remove ID
       zebinst [-C DIR] tool list [--json]

Installs a tool (its identifier ID and the CLSID of its tool object, both in
registry form; NAME with a version, e.g. "Trace.1.0"; VALUE a number for the
installer, 0 by default), removes one, or lists them (identifier, name,
CLSID, value). add and remove save; list only reads. An unknown tool: exit 2.
)";

int runTool(Invocation& in) {
    const std::string action = in.args.positional("action (add, remove or list)");
    Session session(in.configDir);
    if (action == "list") {
        const bool json = in.args.flag("--json");
        in.args.finish();
        CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
        JsonWriter out;
        out.beginArray();
        for (const auto& [id, entry] : inst.toolCont().entries()) {
            if (json)
                out.beginObject()
                    .key("id")
                    .value(zeb::guidToString(id))
                    .key("name")
                    .value(entry->m_name.view())
                    .key("clsid")
                    .value(zeb::guidToString(entry->m_clsid))
                    .key("value")
                    .value(int64_t(entry->m_value))
                    .endObject();
            else
                std::printf("%s  %-20s  %s  %u\n", zeb::guidToString(id).c_str(),
                            entry->m_name.c_str(), zeb::guidToString(entry->m_clsid).c_str(),
                            unsigned(entry->m_value));
        }
        if (json)
            printJson(out.endArray());
        else if (inst.toolCont().size() == 0)
            std::printf("no tools installed\n");
        return kExitOk;
    }
    if (action == "add") {
        const GUID id = guidArgument(in.args.positional("ID"), "tool identifier");
        const std::string name = in.args.positional("NAME");
        const GUID clsid = guidArgument(in.args.positional("CLSID"), "CLSID");
        DWORD value = 0;
        if (auto text = in.args.optionalPositional()) {
            char* end = nullptr;
            const unsigned long v = std::strtoul(text->c_str(), &end, 0);
            if (text->empty() || *end || v > 0xFFFFFFFFul)
                throw CommandError(kExitUsage, "tool add: VALUE '" + *text + "' is not a number");
            value = DWORD(v);
        }
        in.args.finish();
        CZEBIntInstallation& inst = session.open(Session::Access::Write);
        DWORD ret = 0;
        const std::u16string wide = zeb::toWide(name);
        const HRESULT hr = inst.addTool(id, wide.c_str(), clsid, value, &ret);
        if (FAILED(hr) || ret != 0)
            throw CommandError(kExitFailure,
                               "cannot add tool " + name + " " + zeb::guidToString(id) + ": " +
                                   (FAILED(hr) ? "the call failed" : resultText(ret)));
        session.save();
        std::printf("added tool %s %s (CLSID %s, value %u)\n", name.c_str(),
                    zeb::guidToString(id).c_str(), zeb::guidToString(clsid).c_str(),
                    unsigned(value));
        return kExitOk;
    }
    if (action == "remove") {
        const GUID id = guidArgument(in.args.positional("ID"), "tool identifier");
        in.args.finish();
        CZEBIntInstallation& inst = session.open(Session::Access::Write);
        const CIsToolInstallEntry* entry = inst.toolCont().findEntry(id);
        if (!entry) throw CommandError(kExitNotFound, "no installed tool " + zeb::guidToString(id));
        const std::string name(entry->m_name.view());
        DWORD ret = 0;
        const HRESULT hr = inst.removeToolByToolTypeID(id, &ret);
        if (FAILED(hr) || ret != 0)
            throw CommandError(FAILED(hr) ? kExitFailure : statusOfResult(ret),
                               "cannot remove tool " + zeb::guidToString(id) + ": " +
                                   (FAILED(hr) ? "the call failed" : resultText(ret)));
        session.save();
        std::printf("removed tool %s %s\n", name.c_str(), zeb::guidToString(id).c_str());
        return kExitOk;
    }
    throw CommandError(kExitUsage, "tool: unknown action '" + action + "'");
}

constexpr Command kCommands[] = {
    {"tool", "add, remove or list tools", kToolHelp, runTool},
};

} // namespace

std::span<const Command> toolCommands() {
    return kCommands;
}

} // namespace zebinst
