#include "drivers/linebuf.h"

#include <cstdio>

#include "core/state.h"

namespace plotix::detail {

namespace {

void end_line() {
    g.out.linebuf.push_back('\n');
    write_direct(g.out.linebuf);
    g.out.linebuf.clear();
}

int fill() {
    return static_cast<int>(g.out.linebuf.size());
}

} // namespace

void write_direct(std::string_view text) {
    if (g.out.stream != nullptr && !text.empty()) {
        std::fwrite(text.data(), 1, text.size(), g.out.stream);
    }
}

void linebuf_reset() {
    g.out.linebuf.clear();
    g.out.linebuf.reserve(96);
    g.out.linelimit = kLineLimit;
}

void linebuf_end_line_if_pending() {
    if (!g.out.linebuf.empty()) end_line();
}

void qpsbuf_end_line() {
    end_line();
}

void qpsbuf(std::string_view text) {
    const std::size_t n = text.size();
    std::size_t w = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (text[i] != ' ' && i != n - 1) continue;
        std::size_t len = i - w + 1;
        if (len == 1 && i != n - 1 && text[i] == ' ') { // a lone blank
            w = i + 1;
            continue;
        }
        if (fill() + static_cast<int>(len) > g.out.linelimit) end_line();
        g.out.linebuf.append(text.substr(w, len));
        w = i + 1;
    }
}

void qqsbuf(std::string_view bytes) {
    if (fill() + static_cast<int>(bytes.size()) > g.out.linelimit) {
        if (g.out.device == 211) {
            // Raw 80-byte records.
            while (fill() + static_cast<int>(bytes.size()) > g.out.linelimit) {
                std::size_t room = static_cast<std::size_t>(g.out.linelimit - fill());
                g.out.linebuf.append(bytes.substr(0, room));
                write_direct(g.out.linebuf);
                g.out.linebuf.clear();
                bytes.remove_prefix(room);
            }
        } else {
            end_line();
        }
    }
    g.out.linebuf.append(bytes);
}

} // namespace plotix::detail
