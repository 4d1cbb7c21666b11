// The line buffer of the line-oriented output files (80 columns), in front
// of the driver's output file.
#ifndef PLOTIX_DRIVERS_LINEBUF_H
#define PLOTIX_DRIVERS_LINEBUF_H

#include <string>
#include <string_view>

#include "drivers/output_file.h"

namespace plotix::detail {

class LineBuffer {
  public:
    explicit LineBuffer(OutputFile& file) : file_(file) { line_.reserve(96); }

    // Word-wrapping writer: appends text word by word, dropping lone blanks
    // and starting a new line before a word that would pass column 80.
    void qpsbuf(std::string_view text);
    // Byte writer: starts a new line when the bytes do not fit the line.
    void qqsbuf(std::string_view bytes);
    // Ends the current line (newline, write) when it holds anything.
    void end_line_if_pending();
    // Writes text straight to the output file, bypassing the buffer.
    void write_direct(std::string_view text) { file_.write(text); }

  private:
    void end_line();

    static constexpr std::size_t kLimit = 80;
    OutputFile& file_;
    std::string line_;
};

} // namespace plotix::detail

#endif
