#include "host/zebinst/XmlText.h"

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace zebinst {

namespace {

struct DocFree {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
using Doc = std::unique_ptr<xmlDoc, DocFree>;

Doc parse(const std::string& text) {
    return Doc(xmlReadMemory(text.data(), int(text.size()), "classification.xml", "UTF-8",
                             XML_PARSE_NOBLANKS | XML_PARSE_NONET | XML_PARSE_NOERROR |
                                 XML_PARSE_NOWARNING));
}

std::string str(const xmlChar* text) {
    return text ? reinterpret_cast<const char*>(text) : "";
}

std::string attribute(xmlNode* node, const char* name) {
    xmlChar* value = xmlGetProp(node, reinterpret_cast<const xmlChar*>(name));
    std::string text = str(value);
    xmlFree(value);
    return text;
}

xmlNode* childElement(xmlNode* node, const char* name) {
    for (xmlNode* c = node->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE && str(c->name) == name) return c;
    return nullptr;
}

void describe(std::string& out, xmlNode* node, int depth) {
    const std::string indent(size_t(depth) * 2, ' ');
    std::string line = indent + str(node->name);
    std::string attrs;
    int count = 0;
    std::string onlyValue;
    for (xmlAttr* a = node->properties; a; a = a->next) {
        const std::string value = attribute(node, reinterpret_cast<const char*>(a->name));
        attrs += " " + str(a->name) + "=" + value;
        ++count;
        if (str(a->name) == "value") onlyValue = value;
    }
    if (count == 1 && !onlyValue.empty())
        line += ": " + onlyValue;
    else if (count)
        line += " " + attrs;
    out += line + "\n";
    for (xmlNode* c = node->children; c; c = c->next)
        if (c->type == XML_ELEMENT_NODE) describe(out, c, depth + 1);
}

void tree(std::string& out, xmlNode* node, int depth) {
    const std::string indent(size_t(depth) * 2, ' ');
    if (xmlNode* esType = childElement(node, "ESType")) {
        out += indent + attribute(esType, "ESName") + "  " + attribute(esType, "ESID") + "\n";
        const std::string sub(size_t(depth + 1) * 2, ' ');
        if (!attribute(esType, "RTID").empty())
            out += sub + "runtime id  " + attribute(esType, "RTID") + " " +
                   attribute(esType, "RTMajor") + "." + attribute(esType, "RTMinor") + "\n";
        for (xmlNode* c = node->children; c; c = c->next)
            if (c->type == XML_ELEMENT_NODE && c != esType) describe(out, c, depth + 1);
        return;
    }
    out += indent + str(node->name) + "\n";
    // Described types are grouped under their class, in the order the
    // classes first appear; other elements keep their place.
    std::vector<std::string> classes;
    for (xmlNode* c = node->children; c; c = c->next) {
        if (c->type != XML_ELEMENT_NODE) continue;
        if (!childElement(c, "ESType")) {
            tree(out, c, depth + 1);
            continue;
        }
        const std::string name = str(c->name);
        if (std::find(classes.begin(), classes.end(), name) != classes.end()) continue;
        classes.push_back(name);
        out += std::string(size_t(depth + 1) * 2, ' ') + name + "\n";
        for (xmlNode* t = c; t; t = t->next)
            if (t->type == XML_ELEMENT_NODE && str(t->name) == name && childElement(t, "ESType"))
                tree(out, t, depth + 2);
    }
}

} // namespace

std::string prettyXml(const std::string& text) {
    Doc doc = parse(text);
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!root) return text;
    xmlBuffer* buffer = xmlBufferCreate();
    if (!buffer) return text;
    std::string out;
    if (xmlNodeDump(buffer, doc.get(), root, 0, 1) >= 0) out = str(xmlBufferContent(buffer)) + "\n";
    xmlBufferFree(buffer);
    return out.empty() ? text : out;
}

std::string xmlTree(const std::string& text) {
    Doc doc = parse(text);
    xmlNode* root = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
    if (!root) return "(empty document)\n";
    std::string out;
    tree(out, root, 0);
    return out;
}

} // namespace zebinst
