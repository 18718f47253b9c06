// CIsXmlQueryText: fills the placeholders of a stored XPath query.
//
//   "%estypeid"          the type identifier in registry form, every occurrence
//   "%param1%", ...      parameter n (named by the format "%%param%d%%"),
//                        every occurrence
//
//   std::string q = "//*[@Name=\"%param1%\"]/@Id";
//   CIsXmlQueryText::Result r = CIsXmlQueryText::fillParams(q, {"a\"b"});
//   // r.code 0, r.text  //*[@Name='a"b']/@Id
//
// A parameter is caller text and is matched literally: it can neither end
// the string literal it is pasted into nor add syntax of its own.
//   - Inside a string literal of the stored text, the literal is rebuilt
//     around the text it now holds: as it stands when that text has no quote
//     of the literal's kind (so text without quotes gives the same XPath as
//     plain pasting, which stored queries rely on), else in the other kind
//     of quote, else as concat() of parts, each quoted so that it can hold
//     its characters.
//   - Outside any literal (a number in a predicate, an element name) the
//     text is pasted as it is only when it is one XPath number (optionally
//     negative) or one name (a QName); anything else could change what the
//     query means, so the query is not run (kUnsafeParam).
//   - In a literal the stored text leaves open (invalid XPath in any case)
//     the text is pasted as it is unless it holds a quote (kUnsafeParam).
// Parameter n replaces the occurrences of its name in the stored text, in
// the order n = 1, 2, ...; text pasted for one parameter is never searched
// for the names of later ones.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CIsXmlQueryText {
public:
    enum Code {
        kOk = 0,
        kParamMissing, // the name of parameter `param` does not occur
        kParamLeft,    // "%param" remains in the result
        kUnsafeParam,  // parameter `param` cannot be pasted where it stands
    };
    struct Result {
        Code code = kOk;
        size_t param = 0; // 1-based, for kParamMissing and kUnsafeParam
        std::string text;
    };

    // Every "%estypeid" replaced by `typeIdText` (our own registry form of a
    // GUID: no quotes, nothing to rebuild). False when there is none.
    static bool fillTypeId(std::string& xpath, std::string_view typeIdText);

    // The stored `xpath` with parameters 1..params.size() filled in.
    static Result fillParams(std::string_view xpath, const std::vector<std::string>& params);

    // The XPath expression whose value is the string `text`: a literal in
    // double or single quotes, or concat() when it holds both.
    static std::string literal(std::string_view text);

    // The name of parameter n: "%param<n>%".
    static std::string paramName(size_t n);
};
