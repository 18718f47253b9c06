// ProgressBar: "describing [#####     ] 12/40" on a terminal, redrawn in
// place, shown only once the work has run longer than a second (short runs
// stay quiet) and only when the stream is a terminal.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

namespace zebinst {

class ProgressBar {
public:
    ProgressBar(std::FILE* out, std::string label);
    ~ProgressBar(); // ends the line when the bar was shown

    void update(size_t done, size_t total);

private:
    std::FILE* m_out;
    std::string m_label;
    bool m_terminal;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_start;
};

} // namespace zebinst
