// zebinst as a user runs it: each test gives the program its own
// configuration directory and registry file and checks exit statuses and the
// lines it prints.
#include "base/fs/FsInstFile.h"
#include "base/fs/FsSecCl.h"
#include "tests/support/TempDir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

using zeb::test::readFile;
using zeb::test::writeFile;

namespace {

constexpr const char* kDriveId = "{5A3E1001-7B1C-4C2A-9E10-3D5F00000001}";
constexpr const char* kToolId = "{5A3E5001-0000-0000-0000-000000000001}";
constexpr const char* kToolClsid = "{5A3E0008-7B1C-4C2A-9E10-3D5F00000008}";

struct Result {
    int status = -1;
    std::string out;
    std::string err;
};

class Zebinst : public ::testing::Test {
protected:
    // Runs `program` with `args`; stdout and stderr are collected in files.
    Result spawn(const std::string& program, const std::vector<std::string>& args) {
        const std::string outPath = dir.file("stdout"), errPath = dir.file("stderr");
        pid_t pid = ::fork();
        if (pid == 0) {
            int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(out, 1);
            ::dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            ::_exit(127);
        }
        int status = 0;
        ::waitpid(pid, &status, 0);
        Result r;
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        r.out = readFile(outPath);
        r.err = readFile(errPath);
        return r;
    }
    // zebinst -C <config> args...
    Result run(std::vector<std::string> args) {
        args.insert(args.begin(), {"-C", config});
        return spawn(ZEBINST_PATH, args);
    }
    Result runBare(const std::vector<std::string>& args) { return spawn(ZEBINST_PATH, args); }

    // init, register-samples and SampleDrive installed.
    void installDrive() {
        ASSERT_EQ(run({"init"}).status, 0);
        ASSERT_EQ(run({"register-samples"}).status, 0);
        Result r = run({"install", "Zeb.SampleDrive.1"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    // Runs python3 on a file holding `json`; what the expression prints.
    std::string python(const std::string& json, const std::string& expression) {
        writeFile(dir.file("data.json"), json);
        Result r = spawn(
            "/usr/bin/python3",
            {"-c", "import json,sys; d=json.load(open(sys.argv[1])); print(" + expression + ")",
             dir.file("data.json")});
        EXPECT_EQ(r.status, 0) << r.err;
        return r.out;
    }
    std::string instFile() const { return config + "/k4bi00tx.dat"; }

    zeb::test::TempDir dir;
    zeb::test::ScopedEnv registry{"ZEB_REGISTRY", dir.file("registry.reg")};
    zeb::test::ScopedEnv trace{"ZEB_TRACE", std::nullopt};
    std::string config = dir.file("conf/sub");
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(Zebinst, InitRegisterInstallAndShowGiveTheirStatusesAndLines) {
    Result r = run({"init"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "made " + instFile() + " (empty installation)\nstylesheet " + config +
                         "/k4bi00tx_tf.xsl\nstylesheet " + config + "/k4bi00tx_tfb.xsl\n");
    r = run({"init"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, instFile() + ": an installation file is already there; left as it is\n");

    r = run({"register-samples"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "copied " + config + "/Drive.pd\n")) << r.out;
    EXPECT_TRUE(contains(readFile(dir.file("registry.reg")), "Zeb.SampleDrive.1"));

    r = run({"install", "Zeb.SampleDrive.1"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string("installed SampleDrive.1.0 ") + kDriveId + " as Device\n");
    r = run({"install", "{5A3E0002-7B1C-4C2A-9E10-3D5F00000002}", "--class", "1"});
    EXPECT_EQ(r.out,
              "installed SampleAxis.1.0 {5A3E1002-7B1C-4C2A-9E10-3D5F00000002} as TObject\n");
    r = run({"install", "Zeb.SampleDrive.1"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "zebinst: cannot install {5A3E0001-7B1C-4C2A-9E10-3D5F00000001} as Device: "
                     "0xBE020004 (already present)\n");

    r = run({"show", "sampledrive"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "name        SampleDrive.1.0\n")) << r.out;
    EXPECT_TRUE(contains(r.out, "class       Device\n"));
    EXPECT_TRUE(contains(r.out, "CLSID       {5A3E0001-7B1C-4C2A-9E10-3D5F00000001}\n"));
    EXPECT_TRUE(contains(r.out, "runtime id  {5A3E2001-7B1C-4C2A-9E10-3D5F00000001} 1.0\n"));
    EXPECT_TRUE(contains(r.out, "    <ESType ESID=\"" + std::string(kDriveId) + "\""));
    EXPECT_EQ(run({"show", kDriveId}).out, r.out);

    r = run({"remove", "SampleAxis.1.0"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "removed SampleAxis.1.0 {5A3E1002-7B1C-4C2A-9E10-3D5F00000002}\n");
}

TEST_F(Zebinst, JsonOutputParses) {
    installDrive();
    ASSERT_EQ(run({"attr", "set", "SampleDrive", "BI_COLOUR", "blue \"deep\""}).status, 0);
    ASSERT_EQ(
        run({"snapin", "add", "SampleDrive", "{5A3E4001-0000-0000-0000-000000000002}"}).status, 0);
    ASSERT_EQ(run({"tool", "add", kToolId, "Trace.1.0", kToolClsid, "7"}).status, 0);

    Result r = run({"types", "--json"});
    ASSERT_EQ(r.status, 0);
    EXPECT_EQ(python(r.out, "d[0]['name'], d[0]['class'], d[0]['runtimeId']['major']"),
              "SampleDrive.1.0 Device 1\n");
    r = run({"show", "SampleDrive", "--json"});
    EXPECT_EQ(python(r.out, "d['attributes']['BI_COLOUR'], d['defaultSnapIn'], "
                            "d['description'].startswith('<Device>')"),
              "blue \"deep\" {5A3E4001-0000-0000-0000-000000000002} True\n");
    r = run({"tool", "list", "--json"});
    EXPECT_EQ(python(r.out, "d[0]['name'], d[0]['value']"), "Trace.1.0 7\n");
    r = run({"attr", "list", "SampleDrive", "--json"});
    EXPECT_EQ(python(r.out, "d"), "{'BI_COLOUR': 'blue \"deep\"'}\n");
}

TEST_F(Zebinst, WhatIsNotThereExitsTwoAndSaysSo) {
    installDrive();
    Result r = run({"show", "SampleDrive.9"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zebinst: no installed type SampleDrive.9\n");
    EXPECT_EQ(run({"remove", "{5A3E1009-7B1C-4C2A-9E10-3D5F00000001}"}).status, 2);
    r = run({"attr", "get", "SampleDrive", "Nothing"});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "zebinst: SampleDrive.1.0 has no attribute Nothing\n");
    EXPECT_EQ(
        run({"snapin", "remove", "SampleDrive", "{5A3E4001-0000-0000-0000-000000000009}"}).status,
        2);
    EXPECT_EQ(run({"tool", "remove", kToolId}).status, 2);
    // A refused change is no success: the installation's result word decides.
    r = run({"attr", "set", "SampleDrive", "Colour", "blue"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "zebinst: cannot set Colour of SampleDrive.1.0: 0xBE02000C (invalid attribute "
                     "name (BI_... or PBI_...) or class)\n");
    EXPECT_EQ(run({"install", "Zeb.NoSuchThing.1"}).status, 2);
}

TEST_F(Zebinst, BadUsageExitsOne) {
    ASSERT_EQ(run({"init"}).status, 0);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"frobnicate"},
             {"show"},
             {"types", "extra"},
             {"types", "--bogus"},
             {"install", "Zeb.SampleDrive.1", "--class", "Gadget"},
             {"snapin", "add", "SampleDrive", "not-a-guid"},
             {"attr", "rename", "SampleDrive", "a"},
             {"tool", "add", kToolId, "Trace.1.0", kToolClsid, "seven"},
         }) {
        Result r = run(args);
        EXPECT_EQ(r.status, 1) << (args.empty() ? "" : args[0]);
        EXPECT_TRUE(contains(r.err, "zebinst")) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
    // No -C and no configured directory: an empty registry names none.
    Result r = runBare({"types"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "zebinst: no configuration directory: give one with -C DIR"))
        << r.err;
    // Help is no usage error.
    EXPECT_EQ(runBare({"--help"}).status, 0);
    r = runBare({"show", "--help"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "usage: zebinst [-C DIR] show NAME|ID [--json]")) << r.out;
}

TEST_F(Zebinst, TheConfiguredDirectoryIsTheDefault) {
    writeFile(dir.file("registry.reg"),
              "Windows Registry Editor Version 5.00\n\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1]\n"
              "\"ProductDir\"=\"" +
                  dir.file("product") +
                  "\"\n\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis]\n"
                  "\"ConfigDir\"=\"cfg\"\n");
    Result r = runBare({"init"});
    EXPECT_EQ(r.status, 0) << r.err;
    struct stat st {};
    EXPECT_EQ(::stat(dir.file("product/cfg/k4bi00tx.dat").c_str(), &st), 0);
}

TEST_F(Zebinst, ReadOnlyCommandsLeaveTheFileUnchanged) {
    installDrive();
    ASSERT_EQ(run({"attr", "set", "SampleDrive", "BI_TYPE_PDFILENAME", "Drive.pd"}).status, 0);
    ASSERT_EQ(run({"tool", "add", kToolId, "Trace.1.0", kToolClsid}).status, 0);
    const std::string before = readFile(instFile());
    struct stat st {};
    ASSERT_EQ(::stat(instFile().c_str(), &st), 0);
    const timespec mtime = st.st_mtim;
    ::usleep(20000); // a write now would show in the modification time
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"types"},
             {"types", "--json"},
             {"show", "SampleDrive"},
             {"show", "SampleDrive", "--json"},
             {"attr", "get", "SampleDrive", "BI_TYPE_PDFILENAME"},
             {"attr", "list", "SampleDrive"},
             {"tool", "list"},
             {"xml"},
             {"tree"},
             {"check"},
             {"init"},
         }) {
        Result r = run(args);
        EXPECT_EQ(r.status, 0) << args[0] << ": " << r.err;
        ASSERT_EQ(::stat(instFile().c_str(), &st), 0);
        EXPECT_EQ(st.st_mtim.tv_sec, mtime.tv_sec) << args[0];
        EXPECT_EQ(st.st_mtim.tv_nsec, mtime.tv_nsec) << args[0];
        EXPECT_TRUE(readFile(instFile()) == before) << args[0];
    }
}

// Replaces the tools section of the installation file with `bytes`.
void damageTools(const std::string& path, const std::string& bytes) {
    FsInstFile file;
    ASSERT_EQ(file.openExistFile(path.c_str(), FsFileMan::kFileWrite), 0u);
    FsSecCl* tools = file.getToolsSect(FsSectMan::kWrite);
    ASSERT_NE(tools, nullptr);
    tools->setSize(0);
    tools->write(bytes.data(), DWORD(bytes.size()));
    ASSERT_EQ(file.CloseSect(tools), 0u);
    ASSERT_EQ(file.saveFile(), 0u);
}

TEST_F(Zebinst, CheckReportsADamagedSectionWithItsOffset) {
    installDrive();
    Result r = run({"check"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, instFile() + ": every section reads cleanly\n");

    // A count of two tools with none following.
    damageTools(instFile(), "2 ");
    r = run({"check"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.out, "section tools: offset 2: the section ends before its data\n");
    // Commands go on with what could be read, and say where to look.
    const std::string damaged = readFile(instFile());
    r = run({"types"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("SampleDrive.1.0"), std::string::npos) << r.out;
    EXPECT_EQ(r.err, "zebinst: warning: " + instFile() +
                         ": a section does not read cleanly (see 'zebinst check'); showing what "
                         "could be read\n");
    EXPECT_EQ(readFile(instFile()), damaged);
    // A change is saved; the damaged file stays beside the new one.
    r = run({"attr", "set", "SampleDrive", "BI_NOTE", "x"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run({"check"}).status, 0);
    int kept = 0;
    for (const auto& entry : std::filesystem::directory_iterator(config))
        if (entry.path().filename().string().rfind("k4bi00tx.dat.damaged-", 0) == 0) {
            ++kept;
            EXPECT_EQ(readFile(entry.path().string()), damaged);
        }
    EXPECT_EQ(kept, 1);
}

TEST_F(Zebinst, AFileThatIsNoInstallationIsNamedWithItsCause) {
    ::mkdir(dir.file("conf").c_str(), 0755);
    ::mkdir(config.c_str(), 0755);
    writeFile(instFile(), "not a compound file at all");
    Result r = run({"init"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "zebinst: " + instFile() + ": exists and is not an installation file\n");
    r = run({"show", "SampleDrive"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "zebinst: " + instFile() + ": not an installation file\n");
    EXPECT_EQ(readFile(instFile()), "not a compound file at all");
}

// The steps scripts/demo shows, and what a new process finds afterwards.
TEST_F(Zebinst, TheDemoStepsPersistIntoANewProcess) {
    installDrive();
    ASSERT_EQ(run({"install", "Zeb.SampleCam.1", "--class", "TObject"}).status, 0);
    Result r = run({"attr", "set", "SampleDrive", "BI_TYPE_PDFILENAME", "Drive.pd"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "set SampleDrive.1.0 BI_TYPE_PDFILENAME = Drive.pd\n");
    ASSERT_EQ(run({"tool", "add", kToolId, "Trace.1.0", kToolClsid, "7"}).status, 0);
    r = run({"refresh"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run({"tree"});
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(contains(r.out, "  Classified\n    Device\n      SampleDrive.1.0  " +
                                    std::string(kDriveId) + "\n"))
        << r.out;

    r = run({"show", "SampleDrive"});
    EXPECT_TRUE(contains(r.out, "  BI_TYPE_PDFILENAME = Drive.pd\n")) << r.out;
    // What Drive.pd says reached the description.
    EXPECT_TRUE(contains(r.out, "<DOView value=\"3\"/>")) << r.out;
    r = run({"types"});
    EXPECT_TRUE(contains(r.out, "Device         SampleDrive.1.0")) << r.out;
    EXPECT_TRUE(contains(r.out, "TObject        SampleCam.1.0")) << r.out;
    r = run({"tool", "list"});
    EXPECT_EQ(r.out, std::string(kToolId) + "  Trace.1.0             " + kToolClsid + "  7\n");
}

TEST_F(Zebinst, SnapInsAndToolsChangeAsTheInstallationRules) {
    installDrive();
    const std::string a = "{5A3E4001-0000-0000-0000-00000000000A}";
    const std::string b = "{5A3E4001-0000-0000-0000-00000000000B}";
    EXPECT_EQ(run({"snapin", "add", "SampleDrive", a}).out,
              "added snap-in " + a + " to SampleDrive.1.0\n");
    EXPECT_EQ(run({"snapin", "add", "SampleDrive", b}).status, 0);
    EXPECT_EQ(run({"snapin", "add", "SampleDrive", b}).status, 3);
    Result r = run({"show", "SampleDrive"});
    EXPECT_TRUE(contains(r.out, "snap-ins\n  " + a + "  (default)\n  " + b + "\n")) << r.out;
    EXPECT_EQ(run({"snapin", "default", "SampleDrive", b}).status, 0);
    EXPECT_EQ(run({"snapin", "remove", "SampleDrive", b}).status, 0);
    // Removing the default makes the first remaining one the default.
    r = run({"show", "SampleDrive", "--json"});
    EXPECT_EQ(python(r.out, "d['snapIns'], d['defaultSnapIn']"), "['" + a + "'] " + a + "\n");

    r = run({"tool", "add", kToolId, "Trace.1.0", kToolClsid, "0x10"});
    EXPECT_EQ(r.out, std::string("added tool Trace.1.0 ") + kToolId + " (CLSID " + kToolClsid +
                         ", value 16)\n");
    // A tool name needs a version.
    r = run({"tool", "add", "{5A3E5001-0000-0000-0000-000000000002}", "Trace", kToolClsid});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "0xBE020003")) << r.err;
    r = run({"tool", "remove", kToolId});
    EXPECT_EQ(r.out, std::string("removed tool Trace.1.0 ") + kToolId + "\n");
    EXPECT_EQ(run({"tool", "list"}).out, "no tools installed\n");
}

TEST_F(Zebinst, RefusedChangesLeaveTheFileAsItWas) {
    installDrive();
    ASSERT_EQ(run({"install", "Zeb.SampleProgram.1", "--class=Program"}).status, 0);
    const std::string before = readFile(instFile());
    Result r = run({"remove", "SampleProgram"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "zebinst: cannot remove SampleProgram.1.0 "
                     "{5A3E1005-7B1C-4C2A-9E10-3D5F00000005}: 0xBE020038 (a program type cannot "
                     "be removed)\n");
    // A PD-file that is not there: the description fails, so does the save.
    r = run({"attr", "set", "SampleDrive", "BI_TYPE_PDFILENAME", "Missing.pd"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "zebinst: " + instFile() + ": the save failed")) << r.err;
    EXPECT_TRUE(readFile(instFile()) == before);
    // Without the arranging stylesheet nothing new can be saved.
    ::unlink((config + "/k4bi00tx_tf.xsl").c_str());
    r = run({"install", "Zeb.SampleCam.1", "--class", "TObject"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "describing the types failed")) << r.err;
    EXPECT_TRUE(readFile(instFile()) == before);
    EXPECT_FALSE(contains(run({"types"}).out, "SampleCam"));
}

TEST_F(Zebinst, AGenericTypeTakesTheNameAndIdentifierItIsGiven) {
    installDrive();
    Result r =
        run({"install", "{5A3E0006-7B1C-4C2A-9E10-3D5F00000006}", "--class", "GenericObject",
             "--id", "{5A3E1006-7B1C-4C2A-9E10-3D5F00000006}", "--name", "SampleGeneric.1.0"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "installed SampleGeneric.1.0 {5A3E1006-7B1C-4C2A-9E10-3D5F00000006} as "
                     "GenericObject\n");
    r = run({"types", "--class", "8", "--json"});
    EXPECT_EQ(python(r.out, "[t['name'] for t in d]"), "['SampleGeneric.1.0']\n");
    EXPECT_EQ(run({"install", "{5A3E0006-7B1C-4C2A-9E10-3D5F00000006}", "--id",
                   "{5A3E1006-7B1C-4C2A-9E10-3D5F00000006}"})
                  .status,
              1);
}

TEST_F(Zebinst, TheDocumentPrintsAsXmlAndEveryCommandHasHelp) {
    Result r = run({"xml"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.err, "zebinst: " + instFile() +
                         ": no installation file (make one with 'zebinst -C " + config +
                         " init')\n");
    ASSERT_EQ(run({"init"}).status, 0);
    EXPECT_EQ(run({"refresh"}).out, "nothing to refresh: no type was ever installed\n");
    ASSERT_EQ(run({"register-samples"}).status, 0);
    ASSERT_EQ(run({"install", "Zeb.SampleDrive.1"}).status, 0);
    r = run({"xml"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("<Installation>\n  <New/>\n  <Unclassified/>\n  <Classified>\n    "
                          "<Device>\n      <ESType ESID=\"" +
                              std::string(kDriveId) + "\"",
                          0),
              0u)
        << r.out;

    for (const char* command : {"init", "register-samples", "install", "remove", "types", "show",
                                "attr", "snapin", "tool", "refresh", "xml", "tree", "check"}) {
        r = runBare({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        EXPECT_EQ(r.out.rfind(std::string("usage: zebinst [-C DIR] ") + command, 0), 0u) << r.out;
        EXPECT_TRUE(contains(runBare({"--help"}).out, std::string("  ") + command + " "));
    }
}

} // namespace

namespace {

// regsvr registers the installation's own module by its Windows-style name
// (found beside zebinst), unregisters it, and names what it cannot load.
TEST_F(Zebinst, RegsvrRegistersAndUnregistersAComponentModule) {
    Result r = runBare({"regsvr", "k4bi00tx.dll"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "registered ")) << r.out;
    EXPECT_TRUE(contains(r.out, "/libk4bi00tx.so in " + dir.file("registry.reg"))) << r.out;
    std::string store = readFile(dir.file("registry.reg"));
    EXPECT_TRUE(contains(store, "CZEBIntInstallation.CZEBIntInstallation.1")) << store;
    EXPECT_TRUE(contains(store, "{CE1A6430-F891-11D2-903B-00105A2DC979}")) << store;

    r = runBare({"regsvr", "-u", "k4bi00tx.dll"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(r.out, "unregistered ")) << r.out;
    store = readFile(dir.file("registry.reg"));
    EXPECT_FALSE(contains(store, "CZEBIntInstallation")) << store;

    r = runBare({"regsvr", dir.file("missing.so")});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "zebinst: " + dir.file("missing.so") + ": cannot be loaded: "))
        << r.err;
    r = runBare({"regsvr"});
    EXPECT_EQ(r.status, 1);
}

TEST_F(Zebinst, QueryCommandsRegisterListRunAndUnregister) {
    installDrive();
    Result r =
        run({"query", "register", "name", ".//*[ESType/@ESID=\"%estypeid\"]/ESType/@ESName"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "registered query name\n");
    ASSERT_EQ(run({"query", "register", "id", "//ESType[@ESName=\"%param1%\"]/@ESID"}).status, 0);
    r = run({"query", "register", "name", "//x"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "registered already")) << r.err;

    struct stat st {};
    ASSERT_EQ(::stat(instFile().c_str(), &st), 0);
    const timespec mtime = st.st_mtim;
    r = run({"query", "run", "name", "--type", "SampleDrive"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "SampleDrive.1.0\n");
    r = run({"query", "run", "id", "--param", "SampleDrive.1.0"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, std::string(kDriveId) + "\n");
    // A parameter with quotes is matched as text: nothing has that name.
    EXPECT_EQ(run({"query", "run", "id", "--param", "\"] | //@ESID | x[\""}).status, 2);
    EXPECT_EQ(run({"query", "run", "nothing"}).status, 2);
    // Without --type the stored text runs as it is: no ESID reads "%estypeid".
    EXPECT_EQ(run({"query", "run", "name"}).status, 2);
    EXPECT_EQ(python(run({"query", "list", "--json"}).out, "[q['id'] for q in d]"),
              "['id', 'name']\n");
    ASSERT_EQ(::stat(instFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, mtime.tv_sec);
    EXPECT_EQ(st.st_mtim.tv_nsec, mtime.tv_nsec);

    EXPECT_EQ(run({"query", "unregister", "nope"}).status, 2);
    r = run({"query", "unregister", "name"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(run({"query", "list"}).out, "id\t//ESType[@ESName=\"%param1%\"]/@ESID\n");
    EXPECT_EQ(run({"query", "frobnicate"}).status, 1);
    EXPECT_EQ(run({"query", "--help"}).status, 0);
}

} // namespace

namespace {

// A package exported with the types it depends on, imported into a second
// installation, given a package file and a merged description.
TEST_F(Zebinst, ExportImportPackageFilesAndDescribe) {
    installDrive();
    ASSERT_EQ(run({"install", "Zeb.SampleCam.1", "--class", "TObject"}).status, 0);
    ASSERT_EQ(run({"install", "Zeb.SamplePack.1", "--class", "Package"}).status, 0);
    const std::string file = dir.file("pack.stg");
    Result r = run({"export", "SamplePack", "-o", file});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "exported SamplePack.1.0 to " + file + "\n");
    EXPECT_EQ(run({"export", "SamplePack"}).status, 1);
    EXPECT_EQ(run({"export", "NoSuchType", "-o", file}).status, 2);

    const std::string other = dir.file("other");
    auto runOther = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"-C", other});
        return spawn(ZEBINST_PATH, args);
    };
    ASSERT_EQ(runOther({"init"}).status, 0);
    r = runOther({"import", file});
    ASSERT_EQ(r.status, 0) << r.err;
    r = runOther({"types", "--json"});
    for (const char* name : {"SampleDrive.1.0", "SampleCam.1.0", "SamplePack.1.0"})
        EXPECT_TRUE(contains(r.out, name)) << r.out;
    r = runOther({"import", dir.file("registry.reg")});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "not a compound file")) << r.err;

    r = runOther({"package-file", "add", "SamplePack.1.0", "SampleDrive.1.0", "drive.bin"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(contains(runOther({"xml"}).out,
                         "<File Name=\"drive.bin\" ESID=\"" + std::string(kDriveId) + "\"/>"));
    EXPECT_EQ(runOther({"package-file", "add", "NoPack", "SampleDrive.1.0", "x"}).status, 2);
    ASSERT_EQ(runOther({"package-file", "remove", "SamplePack.1.0", "SampleDrive.1.0"}).status, 0);
    EXPECT_FALSE(contains(runOther({"xml"}).out, "drive.bin"));

    writeFile(dir.file("d.xml"), "<Device><ESType ESName=\"SampleDrive.1.0\"/><Attributes>"
                                 "<Attribute Name=\"BI_VENDOR\" Value=\"Acme\"/></Attributes>"
                                 "<SubObj Id=\"0\" Name=\"Pump\"/></Device>");
    r = runOther({"describe", "SampleDrive", dir.file("d.xml")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(runOther({"attr", "get", "SampleDrive", "BI_VENDOR"}).out, "Acme\n");
    EXPECT_TRUE(contains(runOther({"xml"}).out, "<SubObj Id=\"0\" Name=\"Pump\"/>"));
    r = runOther({"describe", "SampleCam", dir.file("d.xml")});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(contains(r.err, "describes SampleDrive.1.0, not SampleCam.1.0")) << r.err;
}

} // namespace
