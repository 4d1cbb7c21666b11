// The drivers that write their output file while the plot is drawn, through
// the 80-column line buffer.
#ifndef PLOTIX_DRIVERS_STREAM_H
#define PLOTIX_DRIVERS_STREAM_H

#include <string>

#include "drivers/driver.h"
#include "drivers/linebuf.h"
#include "drivers/output_file.h"

namespace plotix::detail {

// Closes the file and says what became of it.
FileResult close_file(OutputFile& file);

class StreamDriver : public Driver {
  public:
    // Creates the file (a failure sticks: the plot goes on, its text is
    // dropped) and writes the device's header.
    void begin(const std::string& file) final {
        out_.create(file);
        start();
    }
    // Writes the device's end and a pending line, then closes the file.
    FileResult finish() final {
        end();
        buf_.end_line_if_pending();
        return close_file(out_);
    }
    std::string file() const final { return out_.name(); }
    int create_error() const final { return out_.is_open() ? 0 : out_.error(); }

  protected:
    // The header; sets the scale.
    virtual void start() = 0;
    // The end of the page.
    virtual void end() {}

    OutputFile out_;
    LineBuffer buf_{out_};
};

} // namespace plotix::detail

#endif
