// PDF writer: content streams of path and colour operators, deflated per
// 300000-byte piece, the page, page tree, catalog and information objects,
// the cross-reference table and the trailer.
#include "drivers/pdf.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>

#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/state.h"
#include "drivers/image_writers.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

constexpr std::size_t kStreamMax = 300000; // bytes of one content stream before deflating
constexpr int kTableStep = 100;            // object table size and growth

// Object kinds.
constexpr unsigned char kPlain = 0, kContent = 1, kPage = 2;

// Coordinates with two decimals; values that are not finite become 0 so that
// the content stream stays readable.
std::string num2(double v) {
    if (!std::isfinite(v)) v = 0.0;
    return fmt_fixed(std::clamp(v, -1e9, 1e9), 0, 2);
}

// "%0<width>d" for the non-negative numbers of dates and offsets.
std::string zero_pad(long long v, int width) {
    std::string s = fmt_int(v);
    if (static_cast<int>(s.size()) < width) s.insert(0, width - s.size(), '0');
    return s;
}

std::string component(int c) {
    c = std::clamp(c, 0, 255);
    if (c == 0) return "0 ";
    if (c == 255) return "1 ";
    return fmt_fixed(c / 255.0, 5, 3) + " ";
}

// Deflates the buffered stream in one call; the compressed size, or -1.
long long deflate_stream(const unsigned char* in, std::size_t n, unsigned char* out,
                         std::size_t room) {
    z_stream z{};
    if (deflateInit(&z, Z_DEFAULT_COMPRESSION) != Z_OK) return -1;
    z.next_in = const_cast<unsigned char*>(in);
    z.avail_in = static_cast<uInt>(n);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room);
    const int done = deflate(&z, Z_FINISH);
    const long long size = static_cast<long long>(z.total_out);
    if (deflateEnd(&z) != Z_OK || done != Z_STREAM_END) return -1;
    return size;
}

} // namespace

// Makes room for object n in the tables (grown by 100 entries at a time).
bool PdfWriter::table_room(int n) {
    if (n < static_cast<int>(nptr_.size())) return true;
    const std::size_t size = (static_cast<std::size_t>(n) / kTableStep + 1) * kTableStep;
    if (alloc_refused("pdf tables", size * (sizeof(long long) + 1))) return false;
    try {
        nptr_.resize(size, 0);
        ityp_.resize(size, kPlain);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void PdfWriter::put_file(const void* bytes, std::size_t n) {
    if (!file_.is_open() || n == 0) return;
    file_.write(bytes, n);
    nbyt_ += static_cast<long long>(n);
}

void PdfWriter::begin_stream() {
    buffered_ = false;
    nbuf_ = 0;
    if (icomp_ == 1) {
        cbuf_ = qqpalloc(kStreamMax, "pdf stream");
        buffered_ = cbuf_ != nullptr; // else this stream is written as it is
    }
    qqpdfobj(nobj_, kContent);
    if (!buffered_) {
        lenobj_ = nobj_;
        qqpdfbuf("<< /Length " + fmt_int(lenobj_) + " 0 R >>\n");
        qqpdfbuf("stream\n");
    }
    start_ = nbyt_;
    istrop_ = true;
}

void PdfWriter::end_stream() {
    if (!istrop_) return;
    istrop_ = false;
    if (buffered_) {
        const std::size_t n = nbuf_;
        const std::size_t room = n + n / 100 + 13;
        auto out = qqpalloc(room, "pdf output");
        const long long size = out ? deflate_stream(cbuf_.get(), n, out.get(), room) : -1;
        if (size >= 0) {
            qqpdfbuf("<< /Length " + fmt_int(size) + "\n");
            qqpdfbuf("/Filter /FlateDecode\n");
            qqpdfbuf(">>\n");
            qqpdfbuf("stream\n");
            put_file(out.get(), static_cast<std::size_t>(size));
        } else {
            qqpdfbuf("<< /Length " + fmt_int(static_cast<long long>(n)) + " >>\n");
            qqpdfbuf("stream\n");
            put_file(cbuf_.get(), n);
        }
        cbuf_.reset();
        nbuf_ = 0;
        qqpdfbuf("endstream\n");
        qqpdfbuf("endobj\n");
        return;
    }
    const long long length = nbyt_ - start_;
    qqpdfbuf("endstream\n");
    qqpdfbuf("endobj\n");
    qqpdfobj(lenobj_, kPlain);
    qqpdfbuf(fmt_int(length) + "\n");
    qqpdfbuf("endobj\n");
}

void PdfWriter::page_object() {
    qqpdfobj(nobj_, kPage);
    qqpdfbuf("<<\n");
    qqpdfbuf("/Type /Page\n");
    qqpdfbuf("/MediaBox [0 0 " + fmt_int(nwidth_) + " " + fmt_int(nheight_) + "]\n");
    if (rotate_ != 0) qqpdfbuf("/Rotate " + fmt_int(rotate_) + "\n");
    qqpdfbuf("/Parent 2 0 R\n");
    // Text reaches the page as strokes, and there are no images.
    qqpdfbuf("/Resources << /ProcSet [/PDF]\n");
    qqpdfbuf(">>\n");
    if (nstream_ == 1) {
        qqpdfbuf("/Contents " + fmt_int(nobjstr_) + " 0 R\n");
    } else {
        qqpdfbuf("/Contents [\n");
        for (int i = nobj1_; i < nobj_; ++i) {
            if (i < static_cast<int>(ityp_.size()) && ityp_[i] == kContent) {
                qqpdfbuf(fmt_int(i) + " 0 R\n");
            }
        }
        qqpdfbuf("]\n");
    }
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
}

void PdfWriter::document_end() {
    const int last = nobj_ - 1; // the page
    // Page tree, object 2.
    nptr_[2] = nbyt_; // the tables hold at least 100 objects
    qqpdfbuf("2 0 obj\n");
    qqpdfbuf("<< /Type /Pages /Kids [\n");
    int pages = 0;
    for (int i = 3; i <= last && i < static_cast<int>(ityp_.size()); ++i) {
        if (ityp_[i] == kPage) {
            qqpdfbuf(fmt_int(i) + " 0 R\n");
            ++pages;
        }
    }
    qqpdfbuf("] /Count " + fmt_int(pages) + "\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
    // Catalog, object 1.
    nptr_[1] = nbyt_;
    qqpdfbuf("1 0 obj\n");
    qqpdfbuf("<< /Type /Catalog /Pages 2 0 R\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
    // Information.
    const int info = nobj_;
    qqpdfobj(info, kPlain);
    const std::tm t = clock_now();
    qqpdfbuf("<< /CreationDate (D:" + zero_pad(t.tm_year + 1900, 4) + zero_pad(t.tm_mon + 1, 2) +
             zero_pad(t.tm_mday, 2) + zero_pad(t.tm_hour, 2) + zero_pad(t.tm_min, 2) +
             zero_pad(t.tm_sec, 2) + ")\n");
    qqpdfbuf("/Producer (PLOTIX 7.6)\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
    // Cross-reference table and trailer.
    const long long xref = nbyt_;
    const int size = nobj_;
    qqpdfbuf("xref\n");
    qqpdfbuf("0 " + fmt_int(size) + "\n");
    qqpdfbuf("0000000000 65535 f \n");
    for (int i = 1; i < size; ++i) {
        const long long at = i < static_cast<int>(nptr_.size()) ? nptr_[i] : 0;
        qqpdfbuf(zero_pad(at, 10) + " 00000 n \n");
    }
    qqpdfbuf("trailer\n");
    qqpdfbuf("<< /Size " + fmt_int(size) + " /Root 1 0 R /Info " + fmt_int(info) + " 0 R\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("startxref\n");
    qqpdfbuf(fmt_int(xref) + "\n");
    qqpdfbuf("%%EOF\n");
}

void PdfWriter::stroke_open_path() {
    if (!ipopt_) return;
    qqpdfbuf("S\n");
    ipopt_ = false;
    ipold_ = PenOp::move;
}

void PdfWriter::qqpdfbuf(std::string_view bytes) {
    if (!file_.is_open() || bytes.empty()) return;
    // Single writes are short operator lines, far below the buffer size.
    if (istrop_ && buffered_ && bytes.size() <= kStreamMax) {
        if (nbuf_ + bytes.size() > kStreamMax) {
            qqpdfadd(1, 2);
            qqpdfadd(1, 1);
        }
        if (buffered_) {
            std::memcpy(cbuf_.get() + nbuf_, bytes.data(), bytes.size());
            nbuf_ += bytes.size();
            return;
        }
    }
    put_file(bytes.data(), bytes.size());
}

void PdfWriter::qqpdfobj(int n, int kind) {
    if (!file_.is_open() || n < 1) return;
    if (table_room(n)) {
        nptr_[n] = nbyt_;
        ityp_[n] = static_cast<unsigned char>(kind);
    } else {
        failed_table_ = true; // reported at the end of the document
    }
    if (kind == kContent) {
        ++nstream_;
        nobjstr_ = n;
    }
    qqpdfbuf(fmt_int(n) + " 0 obj\n");
    nobj_ = n + 1;
}

void PdfWriter::qqpdfadd(int step, int mode) {
    if (!file_.is_open()) return;
    switch (step) {
    case 1:
        if (mode == 1) {
            begin_stream();
        } else {
            end_stream();
        }
        break;
    case 2: break; // no font is used: text is stroked
    case 3: page_object(); break;
    case 4: document_end(); break;
    default: break;
    }
}

int PdfWriter::qqpdf1(const std::string& file, int width, int height, int option, int rotate) {
    icomp_ = ((option % 2) + 2) % 2;
    rotate_ = rotate;
    if (!table_room(kTableStep - 1)) return -2;
    if (!file_.create(file)) return -1;
    nwidth_ = width;
    nheight_ = height;
    qqpdfbuf("%PDF-1.3\n");
    qqpdfadd(1, 1);
    qqpdfbuf("0.709 w\n");
    qqpdfbuf("2 J\n");
    qqpdfbuf("2 j\n");
    return 0;
}

int PdfWriter::qqpdf2(double x, double y, PenOp op) {
    if (!file_.is_open()) return 0;
    if (op != PenOp::draw && op != PenOp::fill) stroke_open_path();
    switch (op) {
    case PenOp::move:
        xold_ = x;
        yold_ = y;
        ipold_ = PenOp::move;
        break;
    case PenOp::draw:
        if (ipold_ == PenOp::move) qqpdfbuf(num2(xold_) + " " + num2(yold_) + " m\n");
        qqpdfbuf(num2(x) + " " + num2(y) + " l\n");
        ipopt_ = true;
        xold_ = x;
        yold_ = y;
        ipold_ = PenOp::draw;
        break;
    case PenOp::fill:
        // The fill consumes the path: no empty stroke follows, and a further
        // segment starts a new path at the last point.
        if (ipopt_) {
            qqpdfbuf("h\n");
            qqpdfbuf("f*\n");
            ipopt_ = false;
            ipold_ = PenOp::move;
        }
        break;
    case PenOp::end: {
        qqpdfadd(1, 2);
        qqpdfadd(2, 0);
        qqpdfadd(3, 0);
        qqpdfadd(4, 0);
        // A document without its tables is no document: it is not kept.
        if (failed_table_) file_.fail(ENOMEM);
        const bool written = file_.close();
        cbuf_.reset();
        nptr_ = {};
        ityp_ = {};
        if (failed_table_) return -2;
        return written ? 0 : -1;
    }
    case PenOp::flush: break;
    }
    return 0;
}

void PdfWriter::qqpdf3(int r, int gr, int b, int mode) {
    if (!file_.is_open()) return;
    stroke_open_path();
    if (mode == 1) {
        if (r == ir_ && gr == ig_ && b == ib_) return;
        ir_ = r;
        ig_ = gr;
        ib_ = b;
    }
    qqpdfbuf(component(r) + component(gr) + component(b) + (mode == 1 ? "rg\n" : "RG\n"));
}

void PdfWriter::qqpdf4(double x, double y, double wd, double ht) {
    if (!file_.is_open()) return;
    qqpdfbuf(num2(x) + " " + num2(y) + " " + num2(wd) + " " + num2(ht) + " re\n");
    qqpdfbuf("f\n");
}

float pdf_scale() {
    float pw, ph;
    oriented_page(pw, ph);
    const float paperw = 3900.0f * 0.5f * 72.0f / 254.0f, paperh = 5600.0f * 0.5f * 72.0f / 254.0f;
    float s = (pw > ph && g.page.swap != 2) ? std::min(paperh / pw, paperw / ph)
                                            : std::min(paperw / pw, paperh / ph);
    if (g.page.nolimit == 0) s = std::min(s, setup_p() * 72.0f / 254.0f);
    return s;
}

namespace {

class Pdf final : public Driver {
  public:
    Pdf() {
        info_.kind = DeviceInfo::Kind::stream;
        info_.polygons = DeviceInfo::Polygons::path;
        info_.background = 2;
        info_.reverses = true;
    }
    const DeviceInfo& info() const override { return info_; }
    float scale() const override { return scale_; }
    std::string file() const override { return writer_.file().name(); }
    int create_error() const override { return status_ == -1 ? writer_.file().error() : 0; }

    void begin(const std::string& file) override {
        scale_ = pdf_scale();
        float pw, ph;
        oriented_page(pw, ph);
        const bool landscape = pw > ph && g.page.swap != 2;
        width_ = static_cast<int>(1.0f + (landscape ? ph : pw) * scale_);
        height_ = static_cast<int>(1.0f + (landscape ? pw : ph) * scale_);
        // The turned page of a landscape plot is shown upright on request.
        const int rotate = landscape && g.dev.upright != 0 ? 90 : 0;
        // An unusable or uncreatable name leaves the plot without output,
        // reported at disini, as for the other files.
        status_ = writer_.qqpdf1(file, width_, height_, g.dev.pdfopt, rotate);
        if (status_ == -2) {
            warnin(53);
            return;
        }
        if (status_ != 0) return;
        if (g.dev.bgmode != 2) {
            writer_.qqpdf3(0, 0, 0, 1);
            writer_.qqpdf4(0.0, 0.0, width_, height_);
        }
    }

    void pen(float x, float y, PenOp op) override {
        double dx = 0.0, dy = 0.0;
        page_to_device(Layout::postscript, scale_, x, y, dx, dy);
        writer_.qqpdf2(dx, dy, op);
    }

    void colour(int, Rgb c) override {
        writer_.qqpdf3(c.r, c.g, c.b, 0);
        writer_.qqpdf3(c.r, c.g, c.b, 1);
    }

    // The box numbers of the PostScript family are points here: the lower
    // left and upper right corner of the page's rectangle.
    bool box(float x1, float y1, float x2, float y2, int, Rgb c) override {
        double b[4];
        postscript_box(scale_, x1, y1, x2, y2, b);
        writer_.qqpdf3(c.r, c.g, c.b, 1);
        writer_.qqpdf4(b[0], b[1], b[2] - b[0], b[3] - b[1]);
        return true;
    }

    FileResult finish() override {
        if (status_ == -2) return {-1, ENOMEM, true}; // warned at disini
        if (!writer_.is_open()) return {-1, writer_.file().error(), false};
        const int status = writer_.qqpdf2(0.0, 0.0, PenOp::end);
        if (status == 0) return {1, 0, false};
        if (status == -2) {
            warnin(53);
            return {-1, ENOMEM, true};
        }
        return {-1, writer_.file().error(), false};
    }

  private:
    DeviceInfo info_;
    PdfWriter writer_;
    float scale_ = 1.0f;
    int status_ = 0;
    int width_ = 0, height_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_pdf_driver() {
    return std::make_unique<Pdf>();
}

} // namespace plotix::detail
