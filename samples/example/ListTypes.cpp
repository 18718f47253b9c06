// zeb-list-types: a program of its own that uses the installation registry
// the way any client does. It is built against the installed package only
// (pkg-config zeb), links only the runtime libzebcom.so, and reaches the
// installation through the registry store: CoCreateInstance of the
// installation class loads libk4bi00tx.so where `zebinst regsvr` registered it.
//
//   zebinst regsvr k4bi00tx.dll              # once per registry store
//   zebinst -C DIR init                      # optional: the example makes DIR itself
//   zebinst -C DIR register-samples          # optional: the sample types to install
//   zeb-list-types [DIR]
//
// It points the settings at DIR for the time it runs (the installation finds
// its directory there), installs the sample Drive and Axis types when their
// ProgIDs are registered, saves, and lists every installed type. The
// settings it changed are put back before it ends. Without DIR it works in a
// new temporary directory and removes it at the end.
//
// Exit status: 0 success, 1 usage, 3 failure (with a message on stderr).
#include "h/IMC_Installation.h"
#include "h/ResultCodes.h"
#include "platform/com/Activation.h"
#include "platform/com/TaskAllocator.h"
#include "platform/win/Registry.h"
#include "platform/win/TextConvert.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#ifndef ZEB_STYLESHEET_DIR
#error                                                                                             \
    "ZEB_STYLESHEET_DIR must name the installed stylesheets (pkg-config --variable=stylesheetdir zeb)"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailure = 3;

constexpr const char* kUsage = R"(usage: zeb-list-types [DIR]

Creates the installation in DIR (default: a new temporary directory, removed
at the end) through the installation class registered in the registry store
($ZEB_REGISTRY, else ${XDG_CONFIG_HOME:-$HOME/.config}/zeb/registry.reg),
installs the sample types Zeb.SampleDrive.1 and Zeb.SampleAxis.1 when they
are registered ('zebinst -C DIR register-samples'), and lists the installed
types. Register the installation first: 'zebinst regsvr k4bi00tx.dll'.
)";

// Where the installation finds its directory: "<ProductDir>/<ConfigDir>".
const std::string kProductKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1";
const std::string kBasisKey = kProductKey + "\\ES-Basis";

// The stylesheets the installation arranges its classification document
// with; a save fails without them.
constexpr const char* kStylesheets[] = {"k4bi00tx_tf.xsl", "k4bi00tx_tfb.xsl"};

struct SampleType {
    const char16_t* progId;
    LONG typeClass;
};
constexpr SampleType kSampleTypes[] = {
    {u"Zeb.SampleDrive.1", TC_Device},
    {u"Zeb.SampleAxis.1", TC_TObject},
};

struct Failure {
    std::string message;
};

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// A setting changed for the time the program runs: the value is put back as
// it was (or removed, when there was none) when the program leaves.
class ScopedSetting {
public:
    ScopedSetting(std::string key, std::string name, const std::string& value)
        : m_key(std::move(key)), m_name(std::move(name)),
          m_old(zeb::RegistryStore::readValue(m_key, m_name)) {
        if (!zeb::RegistryStore::writeString(m_key, m_name, zeb::toWide(value)))
            throw Failure{zeb::RegistryStore::path() + ": cannot write the setting " + m_key +
                          "\\" + m_name + ": " + zeb::RegistryStore::lastProblem()};
    }
    ~ScopedSetting() {
        const bool restored =
            m_old ? zeb::RegistryStore::writeValue(m_key, m_name, m_old->type, m_old->data)
                  : zeb::RegistryStore::deleteValue(m_key, m_name);
        if (!restored)
            std::fprintf(stderr,
                         "zeb-list-types: warning: %s: the setting %s\\%s was not put back\n",
                         zeb::RegistryStore::path().c_str(), m_key.c_str(), m_name.c_str());
    }
    ScopedSetting(const ScopedSetting&) = delete;
    ScopedSetting& operator=(const ScopedSetting&) = delete;

private:
    std::string m_key;
    std::string m_name;
    std::optional<zeb::RegistryDocument::Value> m_old;
};

// A directory made for this run and removed with everything in it at the end.
class TemporaryDirectory {
public:
    TemporaryDirectory() {
        std::error_code ec;
        fs::path base = fs::temp_directory_path(ec);
        if (ec) base = "/tmp";
        std::string pattern = (base / "zeb-list-types-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw Failure{pattern + ": cannot make a temporary directory"};
        m_path = pattern;
    }
    ~TemporaryDirectory() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

void prepareDirectory(const std::string& dir) {
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec || !fs::is_directory(dir))
        throw Failure{dir + ": cannot make the directory" + (ec ? ": " + ec.message() : "")};
    // A stylesheet already there is kept: it may have been changed on purpose.
    for (const char* name : kStylesheets) {
        const fs::path target = fs::path(dir) / name;
        if (fs::exists(target, ec)) continue;
        const fs::path source = fs::path(ZEB_STYLESHEET_DIR) / name;
        if (!fs::copy_file(source, target, ec))
            throw Failure{target.string() + ": cannot copy the stylesheet from " + source.string() +
                          (ec ? ": " + ec.message() : "")};
    }
}

ComPtr<IMC_Installation> createInstallation() {
    ComPtr<IMC_Installation> inst;
    const HRESULT hr = inst.CoCreateInstance(CLSID_CZEBInstallation);
    if (SUCCEEDED(hr) && inst) return inst;
    const std::string store = zeb::RegistryStore::path();
    const std::string clsid = zeb::guidToString(CLSID_CZEBInstallation);
    if (hr == REGDB_E_CLASSNOTREG)
        throw Failure{"the installation class " + clsid + " is not registered in " + store +
                      " (register it with 'zebinst regsvr k4bi00tx.dll')"};
    if (hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL)
        throw Failure{"the module registered for the installation class " + clsid + " in " + store +
                      " cannot be loaded (" + hex(uint32_t(hr)) +
                      "; register it again with 'zebinst regsvr k4bi00tx.dll')"};
    throw Failure{"the installation could not be created (" + hex(uint32_t(hr)) + ")"};
}

template <class T> ComPtr<T> query(IUnknown* object) {
    ComPtr<T> result;
    if (FAILED(object->QueryInterface(uuidof<T>(), reinterpret_cast<void**>(&result))) || !result)
        throw Failure{"the installation does not offer the interface it documents"};
    return result;
}

// Installs the sample types whose ProgIDs are registered.
void installSampleTypes(IMC_Installation& inst) {
    for (const SampleType& sample : kSampleTypes) {
        const std::string progId = zeb::toNarrow(sample.progId);
        CLSID clsid{};
        if (FAILED(CLSIDFromProgID(sample.progId, &clsid))) {
            std::printf("%s is not registered (register the samples with 'zebinst -C DIR "
                        "register-samples'); not installed\n",
                        progId.c_str());
            continue;
        }
        DWORD ret = 0;
        const HRESULT hr = inst.addTypeByClass(clsid, sample.typeClass, &ret);
        if (FAILED(hr))
            throw Failure{progId + ": the installation cannot install types (" + hex(uint32_t(hr)) +
                          "; is the directory writable?)"};
        if (ret == 0) {
            std::printf("installed %s as %s\n", progId.c_str(), typeClassName(sample.typeClass));
            continue;
        }
        if (ret == translateRet(IS_ALREADY_PRESENT))
            std::printf("%s is installed already\n", progId.c_str());
        else
            std::printf("%s not installed (result %s)\n", progId.c_str(), hex(ret).c_str());
    }
}

void listTypes(IMC_InstallNavigate& navigate) {
    DWORD count = 0;
    ZEB_TypeNameEntry* map = nullptr;
    const HRESULT hr = navigate.getTypeNameMap(&count, &map);
    if (FAILED(hr))
        throw Failure{"the installed types cannot be listed (" + hex(uint32_t(hr)) + ")"};
    std::printf("%u installed type%s\n", unsigned(count), count == 1 ? "" : "s");
    for (DWORD i = 0; i < count; ++i) {
        LONG typeClass = TC_NotInstalled;
        DWORD ret = 0;
        navigate.getTypeClass(map[i].typeId, &typeClass, &ret);
        const char* className = typeClassName(typeClass);
        std::printf("  %s  %-14s %s\n", zeb::guidToString(map[i].typeId).c_str(),
                    className ? className : "?", map[i].name ? map[i].name : "");
        CoTaskMemFree(map[i].name);
    }
    CoTaskMemFree(map);
}

int run(const std::string& dir) {
    prepareDirectory(dir);
    ScopedSetting productDir(kProductKey, "ProductDir", dir);
    ScopedSetting configDir(kBasisKey, "ConfigDir", "");
    std::printf("installation in %s\n", dir.c_str());

    ComPtr<IMC_Installation> inst = createInstallation();
    ComPtr<IMC_InstallNavigate> navigate = query<IMC_InstallNavigate>(inst.get());
    installSampleTypes(*inst);
    DWORD ret = 0;
    const HRESULT hr = inst->saveChanges(&ret);
    if (FAILED(hr) || ret != 0)
        throw Failure{dir + ": the installation could not be saved (" +
                      hex(uint32_t(FAILED(hr) ? hr : HRESULT(ret))) + "; 'zebinst -C " + dir +
                      " check' tells whether its file reads)"};
    listTypes(*navigate);
    return kExitOk;
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "-h" || args[0] == "--help")) {
        std::fputs(kUsage, stdout);
        return kExitOk;
    }
    if (args.size() > 1 || (!args.empty() && (args[0].empty() || args[0][0] == '-'))) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {
        std::fputs("zeb-list-types: the runtime could not be initialised\n", stderr);
        return kExitFailure;
    }
    int status = kExitOk;
    try {
        if (args.empty()) {
            TemporaryDirectory temp;
            status = run(temp.path());
        } else {
            status = run(fs::absolute(args[0]).lexically_normal().string());
        }
    } catch (const Failure& failure) {
        std::fprintf(stderr, "zeb-list-types: %s\n", failure.message.c_str());
        status = kExitFailure;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zeb-list-types: %s\n", e.what());
        status = kExitFailure;
    }
    CoUninitialize();
    return status;
}
