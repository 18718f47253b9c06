// A reader adds the content handler (not owned) to the shared collaborators.
#pragma once

#include "acx/CAcxContentHandlerBase.h"
#include "acx/CAcxReaderWriterBase.h"

class CAcxReaderBase : public CAcxReaderWriterBase {
public:
    void setContentHandler(CAcxContentHandlerBase* handler) { m_pContentHandler = handler; }

protected:
    CAcxContentHandlerBase* m_pContentHandler = nullptr;
};
