// Compound files between our engine, Python's olefile and libgsf's `gsf`:
// every file we write opens in both with the same tree and bytes, and files
// that gsf writes open here with the same tree and bytes.
#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/storage/Storage.h"
#include "platform/win/TextConvert.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

using namespace zeb;
using zeb::test::TempDir;

namespace {

constexpr DWORD kNew = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;
constexpr CLSID kClass = makeGuid("01234567-89AB-CDEF-0123-456789ABCDEF");

// "S" for a storage, else "F" and the bytes of the stream, by path.
using Tree = std::map<std::string, std::string>;

std::string run(const std::string& command, int* status = nullptr) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    int rc = ::pclose(p);
    if (status) *status = rc;
    return out;
}

bool have(const std::string& probe) {
    int rc = -1;
    run(probe + " >/dev/null 2>&1", &rc);
    return rc == 0;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string bytesOf(size_t n, int seed) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>((i * 31 + static_cast<size_t>(seed) * 7) >> 1);
    return s;
}

// Builds `tree` (paths with '/') in a new compound file.
void writeOurs(const std::string& file, const Tree& tree, bool withClass = false) {
    ComPtr<IStorage> root;
    ASSERT_EQ(StgCreateDocfile(toWide(file).c_str(), kNew, 0, &root), S_OK);
    std::map<std::string, ComPtr<IStorage>> open{{"", root}};
    for (const auto& [path, content] : tree) { // parents sort before children
        auto slash = path.rfind('/');
        std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
        std::u16string name = toWide(slash == std::string::npos ? path : path.substr(slash + 1));
        IStorage* owner = open.at(parent);
        if (content == "S") {
            ComPtr<IStorage> sub;
            ASSERT_EQ(owner->CreateStorage(name.c_str(), kNew, 0, 0, &sub), S_OK) << path;
            if (withClass) {
                ASSERT_EQ(sub->SetClass(kClass), S_OK);
            }
            open[path] = sub;
        } else {
            ComPtr<IStream> s;
            ASSERT_EQ(owner->CreateStream(name.c_str(), kNew, 0, 0, &s), S_OK) << path;
            std::string bytes = content.substr(1);
            ASSERT_EQ(s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr), S_OK);
        }
    }
    open.clear();
    ASSERT_EQ(root->Commit(STGC_DEFAULT), S_OK);
}

void readOurs(IStorage* stg, const std::string& prefix, Tree& out) {
    ComPtr<IEnumSTATSTG> e;
    ASSERT_EQ(stg->EnumElements(0, nullptr, 0, &e), S_OK);
    STATSTG st{};
    while (e->Next(1, &st, nullptr) == S_OK) {
        std::u16string name = st.pwcsName;
        CoTaskMemFree(st.pwcsName);
        std::string path = prefix + toNarrow(name);
        if (st.type == STGTY_STORAGE) {
            out[path] = "S";
            ComPtr<IStorage> sub;
            ASSERT_EQ(stg->OpenStorage(name.c_str(), nullptr, kRead, nullptr, 0, &sub), S_OK);
            readOurs(sub, path + "/", out);
        } else {
            ComPtr<IStream> s;
            ASSERT_EQ(stg->OpenStream(name.c_str(), nullptr, kRead, 0, &s), S_OK);
            std::string bytes(static_cast<size_t>(st.cbSize.QuadPart), '\0');
            ULONG got = 0;
            ASSERT_EQ(s->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &got), S_OK);
            ASSERT_EQ(got, bytes.size());
            out[path] = "F" + bytes;
        }
    }
}

Tree readOurs(const std::string& file) {
    ComPtr<IStorage> root;
    EXPECT_EQ(StgOpenStorage(toWide(file).c_str(), nullptr, kRead, nullptr, 0, &root), S_OK);
    Tree t;
    if (root) readOurs(root, "", t);
    return t;
}

constexpr const char* kOlefileScript = R"(
import olefile, sys
ole = olefile.OleFileIO(sys.argv[1])
for e in ole.listdir(streams=True, storages=True):
    p = '/'.join(e)
    if ole.get_type(e) == olefile.STGTY_STREAM:
        print('F\t' + p + '\t' + ole.openstream(e).read().hex())
    else:
        print('S\t' + p + '\t' + (ole.getclsid(e) or '-'))
)";

// The tree as olefile sees it, with the class id of each storage.
Tree readWithOlefile(const TempDir& dir, const std::string& file,
                     std::map<std::string, std::string>* classes) {
    std::ofstream(dir.file("dump.py")) << kOlefileScript;
    int rc = -1;
    std::string out =
        run("/usr/bin/python3 " + quote(dir.file("dump.py")) + " " + quote(file), &rc);
    EXPECT_EQ(rc, 0) << out;
    Tree t;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        auto tab1 = line.find('\t'), tab2 = line.rfind('\t');
        if (tab1 == std::string::npos || tab2 == tab1) continue;
        std::string path = line.substr(tab1 + 1, tab2 - tab1 - 1), rest = line.substr(tab2 + 1);
        if (line[0] == 'S') {
            t[path] = "S";
            if (classes) (*classes)[path] = rest;
        } else {
            std::string bytes;
            for (size_t i = 0; i + 1 < rest.size(); i += 2)
                bytes += static_cast<char>(std::stoi(rest.substr(i, 2), nullptr, 16));
            t[path] = "F" + bytes;
        }
    }
    return t;
}

// gsf lists a storage without children as an empty file (its own files
// too), so that is what it must show for ours.
Tree asGsfLists(const Tree& tree) {
    Tree t = tree;
    for (auto& [path, content] : t) {
        auto next = tree.upper_bound(path);
        bool hasChildren = next != tree.end() && next->first.rfind(path + "/", 0) == 0;
        if (content == "S" && !hasChildren) content = "F";
    }
    return t;
}

// The tree as gsf lists it, with every stream's bytes from one `gsf cat`.
Tree readWithGsf(const std::string& file) {
    int rc = -1;
    std::string listing = run("gsf list " + quote(file), &rc);
    EXPECT_EQ(rc, 0) << listing;
    Tree t;
    std::vector<std::pair<std::string, size_t>> streams;
    std::istringstream lines(listing);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.size() < 3 || (line[0] != 'd' && line[0] != 'f')) continue;
        // "k  [yyyy-mm-dd hh:mm:ss]  size path": the path may hold spaces.
        std::istringstream fields(line.substr(1));
        std::string size;
        fields >> size;
        if (size.size() == 10 && size[4] == '-') fields >> size >> size;
        std::string path;
        std::getline(fields, path);
        if (!path.empty()) path.erase(0, 1);
        if (path == "*root*") continue;
        if (line[0] == 'd') {
            t[path] = "S";
        } else {
            streams.emplace_back(path, std::stoul(size));
        }
    }
    if (!streams.empty()) {
        std::string cmd = "gsf cat " + quote(file);
        for (const auto& [path, size] : streams)
            cmd += " " + quote(path);
        std::string all = run(cmd, &rc);
        EXPECT_EQ(rc, 0);
        size_t at = 0;
        for (const auto& [path, size] : streams) {
            t[path] = "F" + all.substr(std::min(at, all.size()), size);
            at += size;
        }
        EXPECT_EQ(at, all.size());
    }
    return t;
}

class CompoundInterop : public ::testing::Test {
protected:
    void SetUp() override {
        // The peers are part of the test setup (scripts/deps installs them):
        // without them these tests would prove nothing, so they fail.
        ASSERT_TRUE(have("/usr/bin/python3 -c 'import olefile'"))
            << "python3-olefile is not installed (scripts/deps installs it)";
        ASSERT_TRUE(have("command -v gsf")) << "libgsf-bin is not installed (scripts/deps installs it)";
    }
    void expectPeersRead(const Tree& tree, bool withClass = false) {
        std::string file = dir.file("ours.cfb");
        writeOurs(file, tree, withClass);
        std::map<std::string, std::string> classes;
        EXPECT_EQ(readWithOlefile(dir, file, &classes), tree);
        if (withClass) {
            for (const auto& [path, cls] : classes)
                EXPECT_EQ(cls, "01234567-89AB-CDEF-0123-456789ABCDEF") << path;
        }
        EXPECT_EQ(readWithGsf(file), asGsfLists(tree));
        EXPECT_EQ(readOurs(file), tree);
    }
    TempDir dir;
};

TEST_F(CompoundInterop, PeersReadAnEmptyFileAndEmptyStorages) {
    expectPeersRead({});
    expectPeersRead({{"A", "S"}, {"A/B", "S"}, {"C", "S"}}, true);
}

TEST_F(CompoundInterop, PeersReadStreamsAroundTheMiniStreamCutoff) {
    Tree t;
    for (size_t n : {0, 1, 64, 4095, 4096, 4097, 100000})
        t["s" + std::to_string(n)] = "F" + bytesOf(n, static_cast<int>(n));
    t["Sub"] = "S";
    t["Sub/inner"] = "F" + bytesOf(4097, 9);
    expectPeersRead(t);
}

TEST_F(CompoundInterop, PeersReadTwoThousandEntriesInOneStorage) {
    Tree t{{"Types", "S"}};
    for (int i = 0; i < 2000; ++i)
        t["Types/T" + std::to_string(i)] = "F" + bytesOf(static_cast<size_t>(i % 300), i);
    expectPeersRead(t);
}

TEST_F(CompoundInterop, PeersReadDeepNestingAndNonAsciiNames) {
    Tree t;
    std::string path;
    for (int i = 0; i < 40; ++i) {
        path += (path.empty() ? "" : "/") + std::string("Level") + std::to_string(i);
        t[path] = "S";
        t[path + "/x"] = "F" + bytesOf(5, i);
    }
    t["Grüße"] = "F" + bytesOf(10, 1);
    t["Данные"] = "F" + bytesOf(5000, 2);
    t["名前"] = "S";
    t["名前/ÉTÉ été"] = "F" + bytesOf(3, 3);
    expectPeersRead(t, true);
}

TEST_F(CompoundInterop, FilesThatGsfWritesReadHereWithTheSameTreeAndBytes) {
    namespace fs = std::filesystem;
    Tree expected{{"src", "S"}, {"src/deep", "S"}, {"src/deep/er", "S"}, {"src/many", "S"}};
    std::map<std::string, std::string> files;
    for (size_t n : {0, 1, 4095, 4096, 4097, 70000})
        files["src/s" + std::to_string(n)] = bytesOf(n, static_cast<int>(n));
    files["src/deep/er/Größe"] = bytesOf(300, 4);
    for (int i = 0; i < 1200; ++i)
        files["src/many/m" + std::to_string(i)] = bytesOf(static_cast<size_t>(i % 200), i);
    for (const auto& [path, bytes] : files) {
        fs::create_directories(fs::path(dir.file(path)).parent_path());
        std::ofstream(dir.file(path), std::ios::binary) << bytes;
        expected[path] = "F" + bytes;
    }
    int rc = -1;
    std::string out = run("cd " + quote(dir.path()) + " && gsf createole theirs.cfb src 2>&1", &rc);
    ASSERT_EQ(rc, 0) << out;
    EXPECT_EQ(readOurs(dir.file("theirs.cfb")), expected);
}

} // namespace
