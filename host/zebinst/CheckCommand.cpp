// check: reads every section of the installation file with the real readers
// into throwaway containers and reports what does not read cleanly. The file
// is opened read-only and nothing that could save it is made.
#include "host/zebinst/Commands.h"
#include "host/zebinst/Output.h"
#include "host/zebinst/Session.h"

#include "base/fs/FsInstFile.h"
#include "base/fs/FsSecCl.h"
#include "is/CIsToolCont.h"
#include "is/CIsTypeCont.h"
#include "is/CIsXPathMap.h"
#include "platform/win/TextConvert.h"
#include "platform/xml/XmlDom.h"

#include <sys/stat.h>

#include <cstdio>
#include <functional>

namespace zebinst {

namespace {

constexpr const char* kCheckHelp = R"(usage: zebinst [-C DIR] check

Opens the installation file read-only and reads each section ("types",
"xmltypes", "xpathqueries", "tools") as the installation reads it. Each
section that does not read cleanly is reported on one line:
  section tools: offset 123: a number is malformed
Exit 0 when every section reads cleanly, 3 otherwise.
)";

std::string stateText(DWORD state) {
    switch (state) {
    case FsSecCl::kEndOfData:
        return "the section ends before its data";
    case FsSecCl::kBadSigned:
        return "a signed number is malformed";
    case FsSecCl::kBadUnsigned:
        return "an unsigned number is malformed";
    case FsSecCl::kFloatRange:
        return "a floating-point number is out of range";
    case FsSecCl::kBadFloat:
        return "a floating-point number is malformed";
    case FsSecCl::kBadGuid:
        return "a GUID is malformed";
    case FsSecCl::kShortRange:
    case FsSecCl::kUShortRange:
    case FsSecCl::kByteRange:
        return "a number is out of range";
    case FsSecCl::kStreamFailed:
        return "the stream cannot be read";
    case FsSecCl::kBadLength:
        return "a length is wrong";
    case FsSecCl::kBadPosition:
        return "a position is outside the section";
    default:
        return "read error (state " + std::to_string(state) + ")";
    }
}

int runCheck(Invocation& in) {
    in.args.finish();
    Session session(in.configDir);
    const std::string path = session.filePath();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        throw CommandError(kExitFailure, path + ": no installation file");
    FsInstFile file;
    const DWORD r = file.openExistFile(path.c_str(), 0);
    if (r == 11) throw CommandError(kExitFailure, path + ": not an installation file");
    if (r != 0)
        throw CommandError(kExitFailure,
                           path + ": cannot be opened (code " + std::to_string(r) + ")");

    int problems = 0;
    auto report = [&](const char* name, const std::string& line) {
        std::printf("section %s: %s\n", name, line.c_str());
        ++problems;
    };
    auto read = [&](const char* name, FsSecCl* section, const std::function<void(FsSecCl&)>& body) {
        if (!section) {
            report(name, "cannot be opened");
            return;
        }
        section->seek(0, 0);
        body(*section);
        if (section->state() != FsSecCl::kGood)
            report(name, "offset " + std::to_string(section->errorPosition()) + ": " +
                             stateText(section->state()));
        file.CloseSect(section);
    };
    read("types", file.getTypesSect(0), [](FsSecCl& s) {
        CIsTypeCont types;
        s >> types;
    });
    read("xmltypes", file.getXmlTypesSect(0), [&](FsSecCl& s) {
        std::u16string text;
        s >> text;
        if (s.state() != FsSecCl::kGood || text.empty()) return;
        zeb::xml::DomDocument doc = zeb::xml::DomDocument::create();
        if (!doc.loadXml(text))
            report("xmltypes", "offset 0: the document does not parse: " +
                                   zeb::toNarrow(doc.parseErrorReason()));
    });
    read("xpathqueries", file.getXPathQueriesSect(0), [](FsSecCl& s) {
        CIsXPathMap map;
        s >> map;
    });
    read("tools", file.getToolsSect(0), [](FsSecCl& s) {
        CIsToolCont tools;
        s >> tools;
    });
    file.CloseFile();
    if (problems) return kExitFailure;
    std::printf("%s: every section reads cleanly\n", path.c_str());
    return kExitOk;
}

constexpr Command kCommands[] = {
    {"check", "report the sections of the installation file that do not read", kCheckHelp,
     runCheck},
};

} // namespace

std::span<const Command> checkCommands() {
    return kCommands;
}

} // namespace zebinst
