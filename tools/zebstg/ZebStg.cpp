// zebstg: inspect a compound file.
//
//   zebstg list   FILE                  the tree: kind, size, class id, path
//   zebstg cat    FILE PATH             a stream's bytes, unchanged, to stdout
//   zebstg values FILE PATH [FORMAT]    a section's values as the section
//                                       stream reads them
//
// PATH names a stream from the root with '/' between storages
// ("132B44C07FF711D385440050046A30/data"). FORMAT is a list of value kinds
// read in turn: u unsigned 32, i signed 32, H unsigned 16, h signed 16,
// b byte, f float, d double, s string, w wide string, g GUID, v VARIANT;
// a trailing '*' repeats the list until the data ends. Without FORMAT the
// section is shown token by token. A known section name picks its format
// ("header" reads "is"). Each value is printed with its byte offset; the
// first error prints the state code and the offset where it arose.
//
// Exit status: 0 success, 1 bad usage, 2 the file or element cannot be
// opened, 3 the data did not read cleanly (or could not be written out).
#include "base/fs/FsSecCl.h"
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/TextConvert.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

const char* stateText(DWORD state) {
    switch (state) {
    case 1:
        return "end of data";
    case 4:
        return "signed integer text invalid";
    case 5:
        return "unsigned integer text invalid";
    case 6:
        return "value out of the range of a float";
    case 7:
        return "floating-point text invalid";
    case 9:
        return "GUID text invalid";
    case 10:
        return "out of the range of a 16-bit signed integer";
    case 11:
        return "out of the range of a 16-bit unsigned integer";
    case 12:
        return "out of the range of a byte";
    case 16:
        return "a stream call failed";
    case 17:
        return "string length beyond the end of the data";
    case 18:
        return "position or size invalid";
    default:
        return "error";
    }
}

std::string printable(std::string_view bytes) {
    std::string out = "\"";
    for (unsigned char c : bytes) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += char(c);
        } else {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\x%02X", c);
            out += esc;
        }
    }
    return out + "\"";
}

int listTree(IStorage* storage, const std::string& path) {
    ComPtr<IEnumSTATSTG> elements;
    if (FAILED(storage->EnumElements(0, nullptr, 0, &elements))) {
        std::fprintf(stderr, "zebstg: cannot list %s\n", path.c_str());
        return 2;
    }
    int result = 0;
    STATSTG st{};
    ULONG n = 0;
    while (elements->Next(1, &st, &n) == S_OK && n == 1) {
        const std::string name = zeb::toNarrow(st.pwcsName ? st.pwcsName : u"");
        CoTaskMemFree(st.pwcsName);
        const std::string child = path.empty() ? name : path + "/" + name;
        if (st.type == STGTY_STORAGE) {
            std::printf("storage %12s  %s  %s\n", "", zeb::guidToString(st.clsid).c_str(),
                        child.c_str());
            ComPtr<IStorage> sub;
            const std::u16string wide = zeb::toWide(name);
            if (FAILED(storage->OpenStorage(wide.c_str(), nullptr, kRead, nullptr, 0, &sub))) {
                std::fprintf(stderr, "zebstg: cannot open storage %s\n", child.c_str());
                result = 2;
                continue;
            }
            if (const int r = listTree(sub, child); r != 0) result = r;
        } else {
            std::printf("%-7s %12llu  %38s  %s\n", st.type == STGTY_STREAM ? "stream" : "other",
                        static_cast<unsigned long long>(st.cbSize.QuadPart), "", child.c_str());
        }
    }
    return result;
}

// Opens the stream named by a '/' path below `root`.
ComPtr<IStream> openPath(IStorage* root, const std::string& path) {
    ComPtr<IStorage> at = root;
    size_t start = 0;
    for (;;) {
        const size_t slash = path.find('/', start);
        const std::u16string part = zeb::toWide(path.substr(start, slash - start));
        if (slash == std::string::npos) {
            ComPtr<IStream> s;
            if (FAILED(at->OpenStream(part.c_str(), nullptr, kRead, 0, &s))) return nullptr;
            return s;
        }
        ComPtr<IStorage> next;
        if (FAILED(at->OpenStorage(part.c_str(), nullptr, kRead, nullptr, 0, &next)))
            return nullptr;
        at = next;
        start = slash + 1;
    }
}

void printVariant(const VARIANT& v, std::string& out);

void printVariant(const VARIANT& v, std::string& out) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "vt=%u", unsigned(v.vt));
    out += buf;
    if (v.vt & VT_ARRAY) {
        out += " array dims=" + std::to_string(SafeArrayGetDim(v.parray));
        return;
    }
    switch (v.vt) {
    case VT_I2:
    case VT_BOOL:
        out += " " + std::to_string(v.iVal);
        break;
    case VT_I4:
    case VT_INT:
        out += " " + std::to_string(v.lVal);
        break;
    case VT_R4:
        std::snprintf(buf, sizeof buf, " %.10g", double(v.fltVal));
        out += buf;
        break;
    case VT_R8:
    case VT_DATE:
        std::snprintf(buf, sizeof buf, " %.18g", v.dblVal);
        out += buf;
        break;
    case VT_BSTR:
        out += " " + printable(zeb::toNarrow(std::u16string_view(v.bstrVal ? v.bstrVal : u"",
                                                                 SysStringLen(v.bstrVal))));
        break;
    case VT_ERROR:
    case VT_UI4:
    case VT_UINT:
        out += " " + std::to_string(v.ulVal);
        break;
    case VT_I1:
    case VT_UI1:
        out += " " + std::to_string(v.bVal);
        break;
    case VT_UI2:
        out += " " + std::to_string(v.uiVal);
        break;
    default:
        break;
    }
}

// Reads one value of `kind`; false for an unknown kind.
bool readValue(FsSecCl& sec, char kind, std::string& out) {
    char buf[64];
    switch (kind) {
    case 'u': {
        DWORD v = 0;
        sec >> v;
        out = "u " + std::to_string(v);
        return true;
    }
    case 'i': {
        INT v = 0;
        sec >> v;
        out = "i " + std::to_string(v);
        return true;
    }
    case 'H': {
        USHORT v = 0;
        sec >> v;
        out = "H " + std::to_string(v);
        return true;
    }
    case 'h': {
        SHORT v = 0;
        sec >> v;
        out = "h " + std::to_string(v);
        return true;
    }
    case 'b': {
        BYTE v = 0;
        sec >> v;
        out = "b " + std::to_string(v);
        return true;
    }
    case 'f': {
        float v = 0;
        sec >> v;
        std::snprintf(buf, sizeof buf, "f %.10g", double(v));
        out = buf;
        return true;
    }
    case 'd': {
        double v = 0;
        sec >> v;
        std::snprintf(buf, sizeof buf, "d %.18g", v);
        out = buf;
        return true;
    }
    case 's': {
        std::string v;
        sec >> v;
        out = "s " + printable(v);
        return true;
    }
    case 'w': {
        std::u16string v;
        sec >> v;
        out = "w " + printable(zeb::toNarrow(v));
        return true;
    }
    case 'g': {
        GUID v{};
        sec >> v;
        out = "g " + zeb::guidToString(v);
        return true;
    }
    case 'v': {
        zeb::Variant v;
        sec >> v;
        out = "v ";
        printVariant(v, out);
        return true;
    }
    default:
        return false;
    }
}

int dumpValues(IStream* stream, std::string format) {
    FsSecCl sec(stream);
    if (sec.state() != 0) {
        std::fprintf(stderr, "zebstg: cannot read the section (state %u)\n", sec.state());
        return 2;
    }
    if (format.empty()) { // token by token
        for (;;) {
            std::string token;
            char c = 0;
            while (sec.position() < sec.size()) {
                const DWORD at = sec.position();
                c = char(sec.get());
                if (c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n') {
                    if (!token.empty()) {
                        std::printf("%10u  %s\n", at - DWORD(token.size()),
                                    printable(token).c_str());
                        token.clear();
                    }
                } else {
                    token += c;
                }
            }
            if (!token.empty())
                std::printf("%10u  %s\n", sec.size() - DWORD(token.size()),
                            printable(token).c_str());
            return 0;
        }
    }
    const bool repeat = format.back() == '*';
    if (repeat) format.pop_back();
    for (char kind : format)
        if (!std::strchr("uiHhbfdswgv", kind)) {
            std::fprintf(stderr, "zebstg: unknown value kind '%c'\n", kind);
            return 1;
        }
    do {
        for (char kind : format) {
            if (repeat && sec.state() == 0 && sec.position() >= sec.size()) return 0;
            const DWORD at = sec.position();
            std::string text;
            readValue(sec, kind, text);
            if (sec.state() != 0) {
                std::printf("state %u (%s) at offset %u\n", sec.state(), stateText(sec.state()),
                            sec.errorPosition());
                return 3;
            }
            std::printf("%10u  %s\n", at, text.c_str());
        }
        // Only separators left: the data ended cleanly.
        if (repeat) {
            bool onlySeparators = true;
            const DWORD at = sec.position();
            while (sec.position() < sec.size() && onlySeparators) {
                const int c = sec.get();
                onlySeparators = c == 0 || c == ' ' || c == '\t' || c == '\r' || c == '\n';
            }
            if (onlySeparators) return 0;
            sec.seek(LONG(at), 0);
        }
    } while (repeat);
    return 0;
}

constexpr const char* kUsage = "usage: zebstg list FILE\n"
                                "       zebstg cat FILE PATH\n"
                                "       zebstg values FILE PATH [FORMAT]\n";

constexpr const char* kHelp =
    "\n"
    "Looks inside a compound file without changing it.\n"
    "\n"
    "  list    the tree: kind, size, class id and path of every element\n"
    "  cat     a stream's bytes, unchanged, to standard output\n"
    "  values  a section's values as the section stream reads them, each with\n"
    "          its byte offset\n"
    "\n"
    "PATH names a stream from the root with '/' between storages, e.g.\n"
    "\"132B44C07FF711D385440050046A30/data\". FORMAT lists the value kinds read\n"
    "in turn: u unsigned 32, i signed 32, H unsigned 16, h signed 16, b byte,\n"
    "f float, d double, s string, w wide string, g GUID, v VARIANT; a trailing\n"
    "'*' repeats the list until the data ends. Without FORMAT a section is shown\n"
    "token by token (\"header\" streams are read as \"is\"). The first error\n"
    "prints the state code and the offset where it arose.\n"
    "\n"
    "Exit status: 0 success, 1 bad usage, 2 the file or element cannot be\n"
    "opened, 3 the data did not read cleanly.\n";

int usage() {
    std::fputs(kUsage, stderr);
    std::fputs("Try 'zebstg --help' for more.\n", stderr);
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (argc < 3) return usage();
    const std::string command = argv[1];
    if ((command == "list" && argc != 3) || (command == "cat" && argc != 4) ||
        (command == "values" && (argc < 4 || argc > 5)) ||
        (command != "list" && command != "cat" && command != "values"))
        return usage();
    ComPtr<IStorage> root;
    const HRESULT hr =
        StgOpenStorage(zeb::toWide(argv[2]).c_str(), nullptr, kRead, nullptr, 0, &root);
    if (FAILED(hr)) {
        std::fprintf(stderr, "zebstg: cannot open %s as a compound file (0x%08X)\n", argv[2],
                     unsigned(hr));
        return 2;
    }
    if (command == "list") {
        STATSTG st{};
        root->Stat(&st, STATFLAG_NONAME);
        std::printf("storage %12s  %s  /\n", "", zeb::guidToString(st.clsid).c_str());
        return listTree(root, "");
    }
    ComPtr<IStream> stream = openPath(root, argv[3]);
    if (!stream) {
        std::fprintf(stderr, "zebstg: no stream %s\n", argv[3]);
        return 2;
    }
    if (command == "cat") {
        char buf[65536];
        for (;;) {
            ULONG n = 0;
            const HRESULT read = stream->Read(buf, sizeof buf, &n);
            if (FAILED(read)) {
                std::fprintf(stderr, "zebstg: reading %s failed (0x%08X)\n", argv[3],
                             unsigned(read));
                return 3;
            }
            if (n == 0) break;
            if (std::fwrite(buf, 1, n, stdout) != n) break;
        }
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
            std::fprintf(stderr, "zebstg: writing to standard output failed\n");
            return 3;
        }
        return 0;
    }
    std::string format = argc == 5 ? argv[4] : "";
    const std::string path = argv[3];
    if (format.empty() && (path == "header" || path.ends_with("/header"))) format = "is";
    return dumpValues(stream, format);
}
