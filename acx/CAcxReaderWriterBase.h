// Collaborators shared by ACX readers: error handler and file system (not owned).
#pragma once

#include "acx/CAcxErrorHandlerBase.h"
#include "acx/CAcxFileSystemBase.h"

class CAcxReaderWriterBase {
public:
    virtual ~CAcxReaderWriterBase() = default;
    void setErrorHandler(CAcxErrorHandlerBase* handler) { m_pErrorHandler = handler; }
    void setFileSystem(CAcxFileSystemBase* fileSystem) { m_pFileSystem = fileSystem; }

protected:
    CAcxErrorHandlerBase* m_pErrorHandler = nullptr;
    CAcxFileSystemBase* m_pFileSystem = nullptr;
};
