// An open file of a CAcxFileSystemBase; made by open, destroyed by close.
#pragma once

class CAcxFileHandleBase {
public:
    virtual ~CAcxFileHandleBase() = default;
};
