// acxdump: prints an ACX file's tag tree and, for a PD-file, its header record.
//
//   acxdump [--unpack] [--no-tree] FILE...    (--help explains)
//
// Each tag is one line, indented by depth: id, kind, length and the value
// (numbers in decimal with their data-type code, strings quoted, at most 80
// bytes shown). Problems the reader reports appear as "! warning|error|fatal
// <code>" lines. The file is never changed unless --unpack is given, which
// lets the PD-file reader rewrite a gzip file uncompressed in place.
#include "acx/CAcxReader.h"
#include "acx/CAcxZFileSystem.h"
#include "is/isacx/CIsAcxReader.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* kindName(uint16_t kind) {
    switch (kind) {
    case 0:
        return "compound";
    case 1:
        return "int";
    case 2:
        return "int2";
    case 3:
        return "string";
    case 4:
        return "float";
    case 5:
        return "marker";
    default:
        return "unknown";
    }
}

class Printer : public CAcxContentHandlerBase, public CAcxErrorHandlerBase {
public:
    int m_nFatal = 0;

    void warning(int code) override { std::printf("%s! warning %d\n", indent(), code); }
    void error(int code) override { std::printf("%s! error %d\n", indent(), code); }
    void fatalError(int code) override {
        m_nFatal = code;
        std::printf("%s! fatal %d\n", indent(), code);
    }

    void startDocument(bool compressed) override {
        std::printf("document (%s)\n", compressed ? "gzip" : "plain");
    }
    void startTag(const CAcxTagRecord& tag) override {
        std::printf("%s%u %s len=%u", indent(), tag.tagId, kindName(tag.kind), tag.length);
        if (tag.kind == 0) {
            std::printf("\n");
            ++m_nDepth;
        }
    }
    void handleData(int typeCode, const void* value) override {
        uint64_t v = 0;
        std::memcpy(&v, value, sizeof v);
        if (typeCode == 9) {
            float f;
            uint32_t bits = uint32_t(v);
            std::memcpy(&f, &bits, sizeof f);
            std::printf(" = %g (type %d)", double(f), typeCode);
        } else if (typeCode == 10) {
            double d;
            std::memcpy(&d, &v, sizeof d);
            std::printf(" = %g (type %d)", d, typeCode);
        } else {
            std::printf(" = %llu (type %d)", static_cast<unsigned long long>(v), typeCode);
        }
    }
    void startStringTag(const CAcxTagRecord& tag, char** buffer, uint32_t* capacity) override {
        std::printf("%s%u %s len=%u", indent(), tag.tagId, kindName(tag.kind), tag.length);
        *buffer = m_text;
        *capacity = sizeof m_text - 1;
    }
    void handleStringData(const char* text, uint32_t length) override {
        std::printf(" = \"");
        for (uint32_t i = 0; i < length; ++i) {
            unsigned char c = static_cast<unsigned char>(text[i]);
            if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
                std::putchar(c);
            else
                std::printf("\\x%02X", c);
        }
        std::printf("\"%s", length == sizeof m_text - 1 ? "..." : "");
    }
    void endTag(const CAcxTagRecord& tag) override {
        if (tag.kind == 0) {
            if (m_nDepth > 0) --m_nDepth;
        } else {
            std::printf("\n");
        }
    }
    void endDocument() override { std::printf("end of document\n"); }

private:
    const char* indent() {
        static std::string spaces;
        spaces.assign(size_t(m_nDepth) * 2, ' ');
        return spaces.c_str();
    }
    int m_nDepth = 0;
    char m_text[81];
};

std::string stampText(const RTTypeID& rt) {
    if (isInvalid(rt)) return "(not set)";
    return zeb::guidToString(rt.guidVersion) + " " + std::to_string(rt.nMajor) + "." +
           std::to_string(rt.nMinor);
}

void printHeader(const CIsAcxDscHeader& h) {
    std::printf("PD-file header:\n");
    std::printf("  type stamp           %s\n", stampText(h.m_rtTypeStamp).c_str());
    std::printf("  base stamp           %s\n", stampText(h.m_rtBaseStamp).c_str());
    std::printf("  tag 150              \"%s\"\n", h.m_strTag150.c_str());
    std::printf("  tag 67               \"%s\"\n", h.m_strTag67.c_str());
    std::printf("  view id              %u\n", h.m_wViewId);
    std::printf("  data-set handling    %d\n", h.m_bDataSetHandling);
    std::printf("  parallel connectable %d\n", h.m_bParallelConnectable);
    std::printf("  tag 2088             0x%04X\n", h.m_wTag2088);
    std::printf("  tag 2089             0x%04X\n", h.m_wTag2089);
    std::printf("  ES GUID              %s\n",
                isNoType(h.m_guidEs) ? "(not set)" : zeb::guidToString(h.m_guidEs).c_str());
    std::printf("  ES name              \"%s\"\n", h.m_strEsName.c_str());
    std::printf("  tag 17               0x%08X\n", h.m_dwTag17);
}

constexpr const char* kUsage = "usage: acxdump [--unpack] [--no-tree] FILE...\n";

constexpr const char* kHelp =
    "\n"
    "Prints each ACX file's tag tree, one tag per line indented by depth: tag id,\n"
    "kind, content length and value (numbers in decimal with their data-type\n"
    "code, strings quoted, at most 80 bytes shown), then the header record the\n"
    "PD-file reader takes from the file. Problems the reader reports appear as\n"
    "\"! warning|error|fatal CODE\" lines. Plain and gzip files are read alike.\n"
    "\n"
    "  --no-tree   print the PD-file headers only\n"
    "  --unpack    let the PD-file reader rewrite a gzip file uncompressed in\n"
    "              place first (without it no file is ever changed)\n"
    "  -h, --help  show this text\n"
    "\n"
    "Exit status: 0 every file read cleanly, 1 a file could not be read or\n"
    "ended in a fatal error, 2 bad usage.\n";

} // namespace

int main(int argc, char** argv) {
    // Options apply to every file, wherever they stand.
    bool unpack = false, tree = true;
    std::vector<const char*> paths;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--unpack") == 0) {
            unpack = true;
        } else if (std::strcmp(argv[i], "--no-tree") == 0) {
            tree = false;
        } else if (argv[i][0] == '-') {
            std::fprintf(stderr, "acxdump: unknown option '%s'\n%sTry 'acxdump --help' for more.\n",
                         argv[i], kUsage);
            return 2;
        } else {
            paths.push_back(argv[i]);
        }
    }
    if (paths.empty()) {
        std::fprintf(stderr, "%sTry 'acxdump --help' for more.\n", kUsage);
        return 2;
    }
    int failures = 0;
    for (const char* path : paths) {
        std::printf("== %s\n", path);
        CIsAcxReader pd;
        pd.setUnpackInPlace(unpack);
        if (unpack) pd.init(path); // rewrite first, so the tree shows the plain file
        if (tree) {
            CAcxZFileSystem fs;
            Printer printer;
            CAcxReader reader;
            reader.setFileSystem(&fs);
            reader.setErrorHandler(&printer);
            reader.setContentHandler(&printer);
            reader.parse(path);
            if (printer.m_nFatal) ++failures;
        }
        if (!unpack) pd.init(path);
        if (!tree && pd.lastFatal() != 0) {
            std::printf("! fatal %d\n", pd.lastFatal());
            ++failures;
        }
        printHeader(pd.header());
    }
    return failures ? 1 : 0;
}
