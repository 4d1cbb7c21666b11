// PDF output: a one-page PDF 1.3 file whose content streams hold path and
// colour operators, deflated in pieces of 300000 bytes.
#ifndef PLOTIX_DRIVERS_PDF_H
#define PLOTIX_DRIVERS_PDF_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "drivers/driver.h"
#include "drivers/output_file.h"

namespace plotix::detail {

// The writer of one document.
class PdfWriter {
  public:
    // Opens the document in (a free version of) file: MediaBox width and
    // height in points; option 1 deflates the content streams, 0 writes them
    // as they are; rotate is the page's /Rotate in degrees (0: none).
    // Returns 0, -1 when the file cannot be created, -2 when there is no
    // memory for the object tables.
    int qqpdf1(const std::string& file, int width, int height, int option, int rotate = 0);
    // Pen operations in points from the lower left corner: move, draw (a
    // line segment), fill (close and fill the path just drawn), flush
    // (stroke what is pending) and end (writes the rest of the document and
    // closes the file). Returns 0, or for end: -1 when the file could not be
    // written completely, -2 when the object tables could not grow; the file
    // is removed then.
    int qqpdf2(double x, double y, PenOp op);
    // Colour, components 0..255; mode 0 stroke colour, 1 fill colour.
    void qqpdf3(int r, int g, int b, int mode);
    // Filled rectangle in the current fill colour.
    void qqpdf4(double x, double y, double w, double h);
    // The single output path: into the open content stream or into the file.
    void qqpdfbuf(std::string_view bytes);
    // Records the offset and kind of object n and writes its header.
    void qqpdfobj(int n, int kind);
    // Document steps: 1 begin (mode 1) or end (mode 2) a content stream;
    // 2 font objects; 3 the page object; 4 page tree, catalog, information,
    // cross-reference table and trailer.
    void qqpdfadd(int step, int mode);

    // True while a document is open.
    bool is_open() const { return file_.is_open(); }
    const OutputFile& file() const { return file_; }

  private:
    void put_file(const void* bytes, std::size_t n);
    bool table_room(int n);
    void begin_stream();
    void end_stream();
    void page_object();
    void document_end();
    void stroke_open_path();

    OutputFile file_;
    long long nbyt_ = 0; // bytes written so far
    int icomp_ = 1;      // 1: content streams deflated
    int rotate_ = 0;
    bool failed_table_ = false;
    // Object tables: offset and kind by object number.
    std::vector<long long> nptr_;
    std::vector<unsigned char> ityp_;
    int nobj_ = 3; // next free object number
    // Page.
    int nwidth_ = 0, nheight_ = 0;
    int nstream_ = 0, nobjstr_ = 0, nobj1_ = 1;
    // Content stream: buffered (to be deflated) or written directly.
    std::unique_ptr<unsigned char[]> cbuf_;
    std::size_t nbuf_ = 0;
    bool buffered_ = false;
    bool istrop_ = false;
    long long start_ = 0; // offset of the stream data (direct streams)
    int lenobj_ = 0;      // the length object of a direct stream
    // Path.
    bool ipopt_ = false;        // a segment has been written and not stroked
    PenOp ipold_ = PenOp::move; // move: a move is pending
    double xold_ = 0.0, yold_ = 0.0;
    // Last fill colour.
    int ir_ = -1, ig_ = -1, ib_ = -1;
};

// Points per plot unit of the PDF page.
float pdf_scale();
std::unique_ptr<Driver> make_pdf_driver();

} // namespace plotix::detail

#endif
