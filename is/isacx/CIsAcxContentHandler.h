// Content handler for PD-files: builds the tag tree of the file and routes
// the values of the base section (2144), its base data (2145), view data
// (2147) and their engineering-system data (2365) to collectors; at the end
// of the base section it fills the bound header record.
//
// Only file type 1 (a document holding 2144) is processed; files of the
// other recognised types (2409, 2208, 2411, 2251, 2440) leave the record
// untouched. Problems are traced (source "is_acx"); the handler asks the
// reader to abort only when it cannot keep its tree (out of memory, a
// value outside any compound, a first compound that is not the document).
#pragma once

#include "acx/CAcxContentHandlerBase.h"
#include "acx/CAcxTagTree.h"
#include "is/isacx/CIsAcxDoType.h"
#include "is/isacx/CIsAcxDscHeader.h"
#include "is/isacx/CIsAcxEsData.h"
#include "is/isacx/CIsAcxHeader.h"

#include <optional>
#include <vector>

class CAcxReader;

class CIsAcxContentHandler : public CAcxContentHandlerBase {
public:
    // Both outlive the handler's use in a parse. With keepTree false the
    // handler keeps only the open path of the tree (what the routing needs)
    // and tree() is empty after a parse: for callers that want the record only.
    CIsAcxContentHandler(CAcxReader& reader, CIsAcxDscHeader& record, bool keepTree = true);

    void startDocument(bool compressed) override;
    void startTag(const CAcxTagRecord& tag) override;
    void handleData(int typeCode, const void* value) override;
    void startStringTag(const CAcxTagRecord& tag, char** buffer, uint32_t* capacity) override;
    void handleStringData(const char* text, uint32_t length) override;
    void endTag(const CAcxTagRecord& tag) override;
    void endDocument() override;

    const CAcxTagTree& tree() const { return m_tree; }
    int fileType() const { return m_nFileType; }

private:
    void processingError();
    // Routes a value to the collector of the current section.
    template <class Deliver> void route(uint32_t tagId, Deliver deliver);
    void popCompound();
    void forget(const CAcxTagTree::Mark& mark, CAcxCompoundTagBase* parent);

    CAcxReader& m_reader;
    CIsAcxDscHeader& m_record;
    CAcxTagTree m_tree;
    bool m_bKeepTree;
    std::vector<CAcxTagTree::Mark> m_marks; // without keepTree: where each open tag began
    CAcxTagTree::Mark m_leafMark;
    CAcxCompoundTagBase* m_pCurrent = nullptr;
    int m_nFileType = 0;
    int64_t m_nSection = -1;
    // The collectors live in the handler: a file has one per base or view
    // data compound, far too many for a heap allocation each.
    std::optional<CIsAcxHeader> m_pHeader;
    std::optional<CIsAcxDoType> m_pAcxDoType;
    std::optional<CIsAcxEsData> m_pESData;
};
