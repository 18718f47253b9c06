// Feeds arbitrary text to the classification document's setXMLText and then
// does with the loaded document what an installation does next: saves its
// text and loads it again (the same text must come back), adds and removes
// types, and looks them up. After every step the identifier lookup must
// agree with the plain XPath .//*[ESType/@ESID="{...}"] on the document.
//
// The input becomes the UTF-16 text as follows: when it starts with a UTF-16
// byte order mark (FF FE or FE FF) its bytes are taken as 16-bit units in
// that order, mark included and unchecked, so that lone surrogates and other
// ill-formed UTF-16 reach the load; otherwise it is read as UTF-8 (ill-formed
// sequences become U+FFFD).
//
// Activation needs no CoInitialize here (objects are used directly, see
// platform/com/Activation.h), so, like the DOM fuzzer, this one does not call it.
#include "is/xml/CIsXmlClassification.h"

#include "platform/com/Bstr.h"
#include "platform/com/ComError.h"
#include "platform/com/Guid.h"
#include "platform/win/TextConvert.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

// Identifiers the seed documents use (in upper and lower case).
constexpr GUID kTypes[] = {
    makeGuid("0A1B2C3D-4E5F-4061-8273-9A8B7C6D5E4F"),
    makeGuid("11111111-2222-4333-8444-555555555555"),
    makeGuid("5E1F0000-0C1A-4B7D-9E0F-00000000A000"),
};

std::u16string textOf(const uint8_t* data, size_t size) {
    if (size >= 2 &&
        ((data[0] == 0xFF && data[1] == 0xFE) || (data[0] == 0xFE && data[1] == 0xFF))) {
        const bool little = data[0] == 0xFF;
        std::u16string units;
        units.reserve(size / 2);
        for (size_t i = 0; i + 1 < size; i += 2)
            units.push_back(little ? char16_t(data[i] | data[i + 1] << 8)
                                   : char16_t(data[i] << 8 | data[i + 1]));
        return units;
    }
    return zeb::toWide(std::string_view(reinterpret_cast<const char*>(data), size));
}

std::u16string registryForm(const GUID& id) {
    OLECHAR text[40] = {};
    if (StringFromGUID2(id, text, 40) != 39) std::abort();
    return text;
}

std::u16string savedText(CIsXmlClassification& doc) {
    BSTR text = nullptr;
    if (!doc.getXMLText(&text)) std::abort();
    std::u16string out(text, SysStringLen(text));
    SysFreeString(text);
    return out;
}

// The lookup of every fixed identifier against the XPath on the document.
void checkLookups(CIsXmlClassification& doc) {
    for (const GUID& id : kTypes) {
        const zeb::xml::DomNode byIndex = doc.findTypeElement(id);
        const zeb::xml::DomNode byXPath =
            doc.document().selectSingleNode(u".//*[ESType/@ESID=\"" + registryForm(id) + u"\"]");
        if (!(byIndex == byXPath)) std::abort();
    }
}

// A document that loaded saves a text that loads again and saves the same.
void checkRoundTrip(CIsXmlClassification& doc) {
    const std::u16string first = savedText(doc);
    const zeb::Bstr again(first);
    if (!doc.setXMLText(again)) std::abort();
    if (savedText(doc) != first) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CIsXmlClassification doc;
    const zeb::Bstr text(textOf(data, size));
    if (!doc.setXMLText(text)) {
        // Refused: nothing of the text may stay behind.
        if (doc.document().documentElement()) std::abort();
        if (!doc.document().childNodes().empty()) std::abort();
        checkLookups(doc);
    } else {
        checkLookups(doc);
        checkRoundTrip(doc);
        checkLookups(doc);
    }

    // What an installation does next. The operations raise zeb::ComError
    // where the document does not let them append (a root other than
    // Installation); that is their documented answer, not a fault.
    static constexpr TypeClass kClasses[] = {TC_Device, TC_TObject, TC_Library, TC_GenericObject,
                                             TC_NotInstalled};
    const TypeClass typeClass = kClasses[size % 5];
    try {
        const DWORD added = doc.addXMLType(kTypes[0], String("Drive.1"), typeClass);
        if (added != 0 && added != 12 && added != 65535) std::abort();
        // A type added (or already there) is found.
        if (added == 0 && !doc.findTypeElement(kTypes[0])) std::abort();
        checkLookups(doc);
        const DWORD removed = doc.removeXMLType(kTypes[1]);
        if (removed != 0 && removed != 13 && removed != 65535) std::abort();
        checkLookups(doc);
        if (doc.addXMLType(kTypes[1], String("Axis \"A\" & <B>"), TC_TObject) == 0 &&
            !doc.findTypeElement(kTypes[1]))
            std::abort();
        checkLookups(doc);
        doc.removeXMLType(kTypes[0]);
        checkLookups(doc);
        doc.removeXMLType(kTypes[2]);
        checkLookups(doc);
    } catch (const zeb::ComError&) {
        checkLookups(doc);
    }
    if (doc.document().documentElement()) checkRoundTrip(doc);
    checkLookups(doc);
    return 0;
}
