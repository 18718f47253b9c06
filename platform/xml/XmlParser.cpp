#include "platform/xml/XmlParser.h"

#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxml/xmlerror.h>
#include <libxslt/documents.h>
#include <libxslt/xsltutils.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>

namespace zeb::xml {

namespace {

struct ParseState {
    bool refused = false;
    ParseFailure failure;
    bool hasError = false;
};

ParseState& stateOf(void* ctx) {
    auto* parser = static_cast<xmlParserCtxtPtr>(ctx);
    return *static_cast<ParseState*>(parser->_private);
}

void refuse(void* ctx, const char* reason) {
    auto* parser = static_cast<xmlParserCtxtPtr>(ctx);
    ParseState& state = stateOf(ctx);
    if (!state.refused) {
        state.refused = true;
        state.failure.reason = reason;
        state.failure.line = xmlSAX2GetLineNumber(parser);
        state.failure.column = xmlSAX2GetColumnNumber(parser);
    }
    xmlStopParser(parser);
}

// An entity declaration (general or parameter, internal or external) is
// where both external-entity reads and exponential expansion start; none of
// our documents has one, so the whole document is refused.
void onEntityDecl(void* ctx, const xmlChar*, int, const xmlChar*, const xmlChar*, xmlChar*) {
    refuse(ctx, "entity declarations are not allowed");
}

// A reference to an entity that is not one of the five predefined ones.
void onReference(void* ctx, const xmlChar*) {
    refuse(ctx, "entity references are not allowed");
}

// The external DTD subset is never read.
void onExternalSubset(void*, const xmlChar*, const xmlChar*, const xmlChar*) {}

xmlParserInputPtr onResolveEntity(void* ctx, const xmlChar*, const xmlChar*) {
    refuse(ctx, "external entities are not allowed");
    return nullptr;
}

void onError(void* userData, xmlErrorPtr error) {
    // userData is the parser context (the SAX user data of a plain parse).
    auto* parser = static_cast<xmlParserCtxtPtr>(userData);
    if (!parser || !parser->_private || !error || error->level < XML_ERR_ERROR) return;
    ParseState& state = *static_cast<ParseState*>(parser->_private);
    if (error->code == XML_ERR_NO_MEMORY) state.failure.noMemory = true;
    if (state.hasError || state.refused) return;
    state.hasError = true;
    // Called from libxml2: no exception may leave.
    try {
        std::string text = error->message ? error->message : "malformed document";
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
            text.pop_back();
        state.failure.reason = std::move(text);
    } catch (...) {
        state.failure.noMemory = true;
    }
    state.failure.line = error->line;
    state.failure.column = error->int2;
}

void silentGeneric(void*, const char*, ...) {}
void silentStructured(void*, xmlErrorPtr) {}

// Documents that stylesheets read (document(), xsl:include, xsl:import) go
// through the same hardened parser, from local files only.
xmlDocPtr loadForXslt(const xmlChar* uri, xmlDictPtr, int, void*, xsltLoadType) {
    if (!uri) return nullptr;
    ParseFailure failure;
    return parseLocalFile(reinterpret_cast<const char*>(uri), false, failure);
}

} // namespace

void initialise() {
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        xsltSetGenericErrorFunc(nullptr, silentGeneric);
        xsltSetLoaderFunc(loadForXslt);
        exsltRegisterAll();
    });
    // libxml2 keeps its error handlers per thread.
    thread_local const bool silenced = [] {
        xmlSetGenericErrorFunc(nullptr, silentGeneric);
        xmlSetStructuredErrorFunc(nullptr, silentStructured);
        return true;
    }();
    (void)silenced;
}

xmlDocPtr parseHardened(std::string_view bytes, const char* encoding, const char* url,
                        bool keepBlanks, ParseFailure& failure) {
    initialise();
    if (bytes.size() > static_cast<size_t>(INT32_MAX)) {
        failure = {"document too large", 0, 0};
        return nullptr;
    }
    xmlParserCtxtPtr parser = xmlNewParserCtxt();
    if (!parser) {
        failure = {"out of memory", 0, 0, true};
        return nullptr;
    }
    ParseState state;
    parser->_private = &state;
    parser->sax->entityDecl = onEntityDecl;
    parser->sax->reference = onReference;
    parser->sax->externalSubset = onExternalSubset;
    parser->sax->resolveEntity = onResolveEntity;
    parser->sax->serror = onError;
    const int options = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING |
                        (keepBlanks ? 0 : XML_PARSE_NOBLANKS);
    // Memory that runs out outside the parser proper (its input buffer) is
    // reported as the thread's last error only.
    xmlResetLastError();
    xmlDocPtr doc = xmlCtxtReadMemory(parser, bytes.data(), static_cast<int>(bytes.size()), url,
                                      encoding, options);
    const bool wellFormed = parser->wellFormed != 0;
    if (!doc && !state.refused) {
        // No tree and no parse error behind it: libxml2 ran out of memory
        // somewhere it reports only as the thread's last error (the input
        // buffer), as an encoder error when it switches the input's
        // encoding (the bytes were checked UTF-8 or are the caller's to
        // declare: a buffer it could not get), or not at all. Its other
        // internal errors (nesting too deep) are the text's.
        const xmlError* own = xmlCtxtGetLastError(parser);
        const xmlError* global = xmlGetLastError();
        const bool encoderFailed = own && own->code == XML_ERR_INTERNAL_ERROR && own->message &&
                                   std::strncmp(own->message, "switching encoding", 18) == 0;
        if ((global && global->code == XML_ERR_NO_MEMORY) || !own || own->code == XML_ERR_OK ||
            own->code == XML_ERR_NO_MEMORY || encoderFailed)
            state.failure.noMemory = true;
    }
    if (!state.hasError && !state.refused && (!doc || !wellFormed)) {
        xmlErrorPtr last = xmlCtxtGetLastError(parser);
        state.hasError = true;
        state.failure.reason = last && last->message ? last->message : "malformed document";
        while (!state.failure.reason.empty() && state.failure.reason.back() == '\n')
            state.failure.reason.pop_back();
        if (last) {
            state.failure.line = last->line;
            state.failure.column = last->int2;
            if (last->code == XML_ERR_NO_MEMORY) state.failure.noMemory = true;
        }
    }
    parser->_private = nullptr;
    xmlFreeParserCtxt(parser);
    if (state.refused || state.hasError || !wellFormed || !doc || !xmlDocGetRootElement(doc)) {
        if (doc) xmlFreeDoc(doc);
        failure = state.failure;
        if (failure.reason.empty()) failure.reason = "the document has no root element";
        return nullptr;
    }
    return doc;
}

xmlDocPtr parseLocalFile(const std::string& path, bool keepBlanks, ParseFailure& failure) {
    std::string local = path;
    if (local.rfind("file://", 0) == 0)
        local.erase(0, 7);
    else if (local.find("://") != std::string::npos) {
        failure = {"only local files can be loaded", 0, 0};
        return nullptr;
    }
    std::ifstream in(local, std::ios::binary);
    if (!in) {
        failure = {"the file cannot be opened: " + local, 0, 0};
        return nullptr;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        failure = {"the file cannot be read: " + local, 0, 0};
        return nullptr;
    }
    return parseHardened(bytes, nullptr, local.c_str(), keepBlanks, failure);
}

} // namespace zeb::xml
