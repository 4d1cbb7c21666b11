// PDF output (device 511): a one-page PDF 1.3 file whose content streams
// hold path and colour operators, deflated in pieces of 300000 bytes.
#ifndef PLOTIX_DRIVERS_PDF_H
#define PLOTIX_DRIVERS_PDF_H

#include <memory>
#include <string>
#include <string_view>

#include "drivers/driver.h"

namespace plotix::detail {

// Opens the document: MediaBox width and height in points; option 1 deflates
// the content streams, 0 writes them as they are. Returns 0, -1 when the file
// cannot be created, -2 when there is no memory for the object tables.
int qqpdf1(const std::string& file, int width, int height, int option);
// Pen operations in points from the lower left corner: 3 move, 2 line
// segment, 5 close and fill the path just drawn, 999 stroke what is pending,
// 1 end of the document (writes the rest and closes the file). Returns 0, or
// for 1: -1 when the file could not be written completely, -2 when the object
// tables could not grow.
int qqpdf2(double x, double y, int op);
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
bool pdf_open();

// Points per plot unit of the PDF page.
float pdf_scale();
std::unique_ptr<Driver> make_pdf_driver();

} // namespace plotix::detail

#endif
