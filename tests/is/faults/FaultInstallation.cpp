#include "tests/is/faults/FaultInstallation.h"

#include "is/xml/DefaultStylesheets.h"
#include "platform/com/Activation.h"
#include "platform/win/TextConvert.h"
#include "samples/SampleIds.h"

#include <sys/stat.h>

namespace zeb::test::faults {

namespace {

const char16_t kNoteAttribute[] = u"BI_FAULT_NOTE";

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

} // namespace

bool applyChange(CZEBIntInstallation& inst, long round, Change change) {
    return applyRound(inst, kTypeCount, round, change);
}

Rounds readRounds(CZEBIntInstallation& inst) {
    return zeb::test::readRounds(inst, kTypeCount);
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
