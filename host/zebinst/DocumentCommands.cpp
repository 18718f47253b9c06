// The classification document: refresh (describe and arrange), xml, tree.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/ProgressBar.h"
#include "host/zebinst/Session.h"
#include "host/zebinst/XmlText.h"

#include "is/xml/CIsXmlTypeDescriber.h"
#include "platform/win/TextConvert.h"

#include <cstdio>

namespace zebinst {

namespace {

constexpr const char* kRefreshHelp = R"(usage: zebinst [-C DIR] refresh

Describes the newly installed types in the classification document (from
their type objects and PD-files) and arranges the document with the
stylesheet k4bi00tx_tf.xsl of the configuration directory, then saves.
Every save describes what is new already (install, and attr set of
BI_TYPE_PDFILENAME), so refresh mostly arranges the document again.
On a terminal a progress bar shows when it runs longer than a second.
)";

constexpr const char* kXmlHelp = R"(usage: zebinst [-C DIR] xml

Prints the classification document, indented. Read only.
)";

constexpr const char* kTreeHelp = R"(usage: zebinst [-C DIR] tree

Prints the classification document as a tree: the groups of the document,
the classes, each described type with its name and identifier and, under
it, its runtime identifier and description. Read only.
)";

std::string documentText(CZEBIntInstallation& inst) {
    BSTR text = nullptr;
    if (!inst.classification().getXMLText(&text)) return {};
    std::string narrow = text ? zeb::toNarrow(std::u16string(text, SysStringLen(text))) : "";
    SysFreeString(text);
    return narrow;
}

int runRefresh(Invocation& in) {
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::Write);
    const auto& doc = inst.classification().document();
    // Without an Installation element nothing was ever installed: there is
    // nothing to describe or arrange (as the installation's own refresh).
    if (!doc || !doc.selectSingleNode(u"Installation").asElement()) {
        std::printf("nothing to refresh: no type was ever installed\n");
        return kExitOk;
    }
    const size_t fresh = doc.selectNodes(u"Installation/New/*").size();
    size_t described = 0;
    {
        ProgressBar bar(stderr, "describing");
        inst.setRefreshProgress([&](size_t done, size_t total) {
            described = done;
            bar.update(done, total);
        });
        const DWORD r = inst.refreshXMLTypeTree();
        inst.setRefreshProgress(nullptr);
        if (r != 0)
            throw CommandError(
                kExitFailure,
                "describing the types failed (code " + std::to_string(r) + ") after " +
                    std::to_string(described) + " of " + std::to_string(fresh) +
                    "; are the stylesheet " + CIsXmlTypeDescriber::kArrangeStylesheet +
                    " and the PD-files the types name in " + session.directory() + "?");
    }
    session.save();
    std::printf("described %zu new type%s, arranged the document with %s\n", described,
                described == 1 ? "" : "s", CIsXmlTypeDescriber::kArrangeStylesheet);
    return kExitOk;
}

int runXml(Invocation& in) {
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
    const std::string text = documentText(inst);
    if (text.empty()) {
        std::printf("(empty document)\n");
        return kExitOk;
    }
    std::fputs(prettyXml(text).c_str(), stdout);
    return kExitOk;
}

int runTree(Invocation& in) {
    in.args.finish();
    Session session(in.configDir);
    CZEBIntInstallation& inst = session.open(Session::Access::ReadOnly);
    std::fputs(xmlTree(documentText(inst)).c_str(), stdout);
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"refresh", "describe new types and arrange the classification", kRefreshHelp, runRefresh},
    {"xml", "print the classification document", kXmlHelp, runXml},
    {"tree", "print the classification as a tree", kTreeHelp, runTree},
};

} // namespace

std::span<const Command> documentCommands() {
    return kCommands;
}

} // namespace zebinst
