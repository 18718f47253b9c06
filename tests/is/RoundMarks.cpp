#include "tests/is/RoundMarks.h"

#include "platform/win/TextConvert.h"
#include "samples/SampleIds.h"

#include <dirent.h>

namespace zeb::test {

namespace {

const char16_t kAttribute[] = u"BI_ROUND";
const char16_t kDocumentAttribute[] = u"Round";
const char kQueryName[] = "round";
const GUID kToolId = {0x6B2D0001, 0x4E55, 0x8C11, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC1}};
const CLSID kToolClsid = {
    0x6B2D0002, 0x4E55, 0x8C11, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC2}};

// The types whose attribute carries the round: first, middle and last.
std::array<uint32_t, 3> markedTypes(uint32_t typeCount) {
    return {0, typeCount / 2, typeCount - 1};
}

std::optional<long> number(std::u16string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return value;
}

} // namespace

std::optional<long> Rounds::common() const {
    std::set<std::optional<long>> seen(types.begin(), types.end());
    seen.insert(xmltypes);
    seen.insert(xpathqueries);
    seen.insert(tools);
    return seen.size() == 1 ? *seen.begin() : std::nullopt;
}

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

bool applyRound(CZEBIntInstallation& inst, uint32_t typeCount, long round, RoundChange change) {
    const std::u16string text = zeb::toWide(std::to_string(round));
    DWORD ret = 0;
    if (change != RoundChange::Tool) {
        zeb::Bstr key(kAttribute), value(text);
        for (uint32_t t : markedTypes(typeCount))
            if (inst.setAttributeByTypeID(zeb::samples::numberedTypeId(t), key, value, &ret) !=
                    S_OK ||
                ret != 0)
                return false;
    }
    if (change == RoundChange::Everything) {
        auto element = inst.classification().findTypeElement(zeb::samples::numberedTypeId(0));
        if (!element) return false;
        element.setAttribute(kDocumentAttribute, text);
        inst.xpathMap().erase(String(kQueryName));
        inst.xpathMap().insert(String(kQueryName),
                               String("//ESType[@Round='" + std::to_string(round) + "']"));
    }
    if (change == RoundChange::Types) return true;
    BOOL present = FALSE;
    if (inst.isTool(kToolId, &present) != S_OK) return false;
    if (present && (inst.removeToolByToolTypeID(kToolId, &ret) != S_OK || ret != 0)) return false;
    return inst.addTool(kToolId, u"RoundTool.1.0", kToolClsid, DWORD(round), &ret) == S_OK &&
           ret == 0;
}

Rounds readRounds(CZEBIntInstallation& inst, uint32_t typeCount) {
    Rounds rounds;
    zeb::Bstr key(kAttribute);
    const std::array<uint32_t, 3> marked = markedTypes(typeCount);
    for (size_t i = 0; i < rounds.types.size(); ++i) {
        BSTR value = nullptr;
        DWORD ret = 1;
        if (inst.getAttributeByTypeID(zeb::samples::numberedTypeId(marked[i]), key, &value, &ret) ==
                S_OK &&
            ret == 0 && value)
            rounds.types[i] = number(std::u16string_view(value, SysStringLen(value)));
        SysFreeString(value);
    }
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

} // namespace zeb::test
