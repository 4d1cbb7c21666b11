// The 80-column line buffer in front of the output file of the
// line-oriented formats.
#include "drivers/linebuf.h"

namespace plotix::detail {

void LineBuffer::end_line() {
    line_.push_back('\n');
    file_.write(line_);
    line_.clear();
}

void LineBuffer::end_line_if_pending() {
    if (!line_.empty()) end_line();
}

void LineBuffer::qpsbuf(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] != ' ' && i != n - 1) continue;
        std::size_t len = i - w + 1;
        if (len == 1 && i != n - 1 && text[i] == ' ') { // a lone blank
            w = i + 1;
            continue;
        }
        if (line_.size() + len > kLimit) end_line();
        line_.append(text.substr(w, len));
        w = i + 1;
    }
}

void LineBuffer::qqsbuf(std::string_view bytes) {
    if (line_.size() + bytes.size() > kLimit) end_line();
    line_.append(bytes);
}

} // namespace plotix::detail
