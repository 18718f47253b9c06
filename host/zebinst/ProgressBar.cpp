#include "host/zebinst/ProgressBar.h"

#include <unistd.h>

namespace zebinst {

ProgressBar::ProgressBar(std::FILE* out, std::string label)
    : m_out(out), m_label(std::move(label)), m_terminal(::isatty(::fileno(out)) == 1),
      m_start(std::chrono::steady_clock::now()) {}

ProgressBar::~ProgressBar() {
    if (m_shown) std::fputc('\n', m_out);
}

void ProgressBar::update(size_t done, size_t total) {
    if (!m_terminal || total == 0) return;
    if (!m_shown && std::chrono::steady_clock::now() - m_start < std::chrono::seconds(1)) return;
    m_shown = true;
    constexpr size_t kWidth = 30;
    const size_t filled = done >= total ? kWidth : done * kWidth / total;
    std::fprintf(m_out, "\r%s [%s%s] %zu/%zu", m_label.c_str(), std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, ' ').c_str(), done, total);
    std::fflush(m_out);
}

} // namespace zebinst
