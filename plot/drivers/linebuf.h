// The line buffer shared by the line-oriented output files (80 columns).
#ifndef PLOTIX_DRIVERS_LINEBUF_H
#define PLOTIX_DRIVERS_LINEBUF_H

#include <string_view>

namespace plotix::detail {

void linebuf_reset();
// Ends the current line (newline, write) when it holds anything.
void linebuf_end_line_if_pending();
// Word-wrapping writer: appends text word by word, dropping lone blanks and
// starting a new line before a word that would pass column 80.
void qpsbuf(std::string_view text);
void qpsbuf_end_line(); // qpsbuf with n = -1
// Byte writer: starts a new line when the bytes do not fit the line.
void qqsbuf(std::string_view bytes);
// Writes text straight to the output file, bypassing the buffer.
void write_direct(std::string_view text);

} // namespace plotix::detail

#endif
