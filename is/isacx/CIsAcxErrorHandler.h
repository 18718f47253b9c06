// Logs the ACX reader's problems (source "is_acxreader"): warnings and
// errors at level 3, fatal errors at level 4. Remembers the last fatal code
// of the current parse, so a caller can tell a file that could not be read.
#pragma once

#include "acx/CAcxErrorHandlerBase.h"

class CIsAcxErrorHandler : public CAcxErrorHandlerBase {
public:
    void warning(int code) override;
    void error(int code) override;
    void fatalError(int code) override;
    void startParse() override { m_nLastFatal = 0; }

    int lastFatal() const { return m_nLastFatal; } // 0: none in the last parse

private:
    int m_nLastFatal = 0;
};
