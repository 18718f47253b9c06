// Receiver of the problems an ACX parse meets, by number (see CAcxReader.h
// for the table). The base ignores everything; handlers override what they
// want to report. Called on the parsing thread only.
#pragma once

class CAcxErrorHandlerBase {
public:
    virtual ~CAcxErrorHandlerBase() = default;
    virtual void warning(int code) { (void)code; }
    virtual void error(int code) { (void)code; }
    virtual void fatalError(int code) { (void)code; }
    // Called at the start of every parse, before the file is opened.
    virtual void startParse() {}
};
