#include "tests/is/faults/FaultInstallation.h"

#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "platform/win/TextConvert.h"
#include "samples/SampleIds.h"

#include <dirent.h>
#include <sys/stat.h>

namespace zeb::test::faults {

namespace {

const char16_t kRoundAttribute[] = u"BI_FAULT_ROUND";
const char16_t kNoteAttribute[] = u"BI_FAULT_NOTE";
const char16_t kDocumentAttribute[] = u"FaultRound";
const char kQueryName[] = "faultround";
const GUID kToolId = {0x6B2D0011, 0x4E55, 0x8C11, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD1}};
const CLSID kToolClsid = {
    0x6B2D0012, 0x4E55, 0x8C11, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xD2}};
constexpr std::array<uint32_t, 3> kMarkedTypes = {0, kTypeCount / 2, kTypeCount - 1};

std::optional<long> number(std::u16string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return value;
}

std::optional<std::u16string> attribute(CZEBIntInstallation& inst, uint32_t type,
                                        const char16_t* name) {
    zeb::Bstr key(name);
    BSTR value = nullptr;
    DWORD ret = 1;
    std::optional<std::u16string> text;
    if (inst.getAttributeByTypeID(zeb::samples::numberedTypeId(type), key, &value, &ret) == S_OK &&
        ret == 0 && value)
        text = std::u16string(value, SysStringLen(value));
    SysFreeString(value);
    return text;
}

std::set<std::string> entriesOf(const std::string& dir) {
    std::set<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            const std::string name = e->d_name;
            if (name != "." && name != "..") names.insert(name);
        }
        ::closedir(d);
    }
    return names;
}

} // namespace

std::string Rounds::describe() const {
    auto one = [](const std::optional<long>& r) {
        return r ? std::to_string(*r) : std::string("-");
    };
    std::string text = "types";
    for (const auto& r : types)
        text += " " + one(r);
    return text + ", xmltypes " + one(xmltypes) + ", xpathqueries " + one(xpathqueries) +
           ", tools " + one(tools);
}

bool applyChange(CZEBIntInstallation& inst, long round, Change change) {
    const std::u16string text = zeb::toWide(std::to_string(round));
    DWORD ret = 0;
    if (change != Change::Tool) {
        zeb::Bstr key(kRoundAttribute), value(text);
        for (uint32_t t : kMarkedTypes)
            if (inst.setAttributeByTypeID(zeb::samples::numberedTypeId(t), key, value, &ret) !=
                    S_OK ||
                ret != 0)
                return false;
    }
    if (change == Change::Everything) {
        auto element = inst.classification().findTypeElement(zeb::samples::numberedTypeId(0));
        if (!element) return false;
        element.setAttribute(kDocumentAttribute, text);
        inst.xpathMap().erase(String(kQueryName));
        inst.xpathMap().insert(String(kQueryName),
                               String("//ESType[@FaultRound='" + std::to_string(round) + "']"));
    }
    if (change == Change::Types) return true;
    BOOL present = FALSE;
    if (inst.isTool(kToolId, &present) != S_OK) return false;
    if (present && (inst.removeToolByToolTypeID(kToolId, &ret) != S_OK || ret != 0)) return false;
    return inst.addTool(kToolId, u"FaultRound.1.0", kToolClsid, DWORD(round), &ret) == S_OK &&
           ret == 0;
}

Rounds readRounds(CZEBIntInstallation& inst) {
    Rounds rounds;
    for (size_t i = 0; i < rounds.types.size(); ++i)
        if (auto text = attribute(inst, kMarkedTypes[i], kRoundAttribute))
            rounds.types[i] = number(*text);
    if (auto element = inst.classification().findTypeElement(zeb::samples::numberedTypeId(0)))
        if (auto text = element.getAttribute(kDocumentAttribute)) rounds.xmltypes = number(*text);
    if (const String* query = inst.xpathMap().find(String(kQueryName))) {
        const std::u16string text = zeb::toWide(query->view());
        const size_t open = text.find(u"='"), close = text.rfind(u"']");
        if (open != std::u16string::npos && close != std::u16string::npos && close > open)
            rounds.xpathqueries =
                number(std::u16string_view(text).substr(open + 2, close - open - 2));
    }
    if (const CIsToolInstallEntry* tool = inst.toolCont().findEntry(kToolId))
        rounds.tools = long(tool->m_value);
    return rounds;
}

std::string checkWhole(CZEBIntInstallation& inst) {
    if (!inst.isFileOpen()) return "the file is not open";
    if (inst.typeCont().size() != kTypeCount + 1) // and the container's internal type
        return "types: " + std::to_string(inst.typeCont().size());
    for (uint32_t i = 0; i < kTypeCount; ++i) {
        if (!inst.typeCont().isType(zeb::samples::numberedTypeId(i)))
            return "type " + std::to_string(i) + " is missing";
        if (attribute(inst, i, kNoteAttribute) != zeb::toWide("note " + std::to_string(i)))
            return "type " + std::to_string(i) + " lost its note";
    }
    const size_t elements = inst.classification().document().selectNodes(u"//ESType").size();
    if (elements != kTypeCount) return "class elements: " + std::to_string(elements);
    return {};
}

void FaultTest::SetUp() {
    ::mkdir(config.c_str(), 0755);
    ::mkdir(tmp.c_str(), 0755);
    ASSERT_TRUE(zeb::classification::installDefaultStylesheets(config));
    m_configBefore = entriesOf(config);
}

ComPtr<CZEBIntInstallation> FaultTest::makeInstallation() {
    ComPtr<CZEBIntInstallation> inst;
    EXPECT_EQ(CZEBIntInstallation::createObject(&inst, config), S_OK);
    if (!inst) return inst;
    for (uint32_t i = 0; i < kTypeCount; ++i) {
        DWORD ret = 1;
        EXPECT_EQ(inst->addTypeByClass(zeb::samples::numberedTypeClsid(i), TC_Device, &ret), S_OK);
        EXPECT_EQ(ret, 0u) << "type " << i;
        zeb::Bstr key(kNoteAttribute), value(zeb::toWide("note " + std::to_string(i)));
        EXPECT_EQ(inst->setAttributeByTypeID(zeb::samples::numberedTypeId(i), key, value, &ret),
                  S_OK);
    }
    EXPECT_TRUE(inst->save(true)); // describes every type
    EXPECT_TRUE(applyChange(*inst, 0, Change::Everything));
    EXPECT_TRUE(inst->save(true));
    EXPECT_EQ(checkWhole(*inst), "");
    return inst;
}

Rounds FaultTest::roundsOnDisk(std::string& whole) {
    ComPtr<CZEBIntInstallation> reader;
    if (CZEBIntInstallation::createObject(&reader, config,
                                          CZEBIntInstallation::OpenMode::ReadOnly) != S_OK) {
        whole = "the file does not open";
        return {};
    }
    whole = checkWhole(*reader);
    return readRounds(*reader);
}

std::set<std::string> FaultTest::leftBeside() const {
    std::set<std::string> left;
    for (const std::string& name : entriesOf(config))
        if (!m_configBefore.count(name) && name != CZEBIntInstallation::kFileName &&
            name != std::string(CZEBIntInstallation::kFileName) + ".lock")
            left.insert(name);
    return left;
}

} // namespace zeb::test::faults
