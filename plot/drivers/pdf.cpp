// PDF writer: content streams of path and colour operators, deflated per
// 300000-byte piece, the page, page tree, catalog and information objects,
// the cross-reference table and the trailer.
#include "drivers/pdf.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <new>
#include <vector>

#include "core/format.h"
#include "core/helpers.h"
#include "core/messages.h"
#include "core/output.h"
#include "core/state.h"
#include "drivers/image_writers.h"
#include "drivers/setup.h"

namespace plotix::detail {

namespace {

constexpr std::size_t kStreamMax = 300000; // bytes of one content stream before deflating
constexpr int kTableStep = 100;            // object table size and growth

// Object kinds.
constexpr unsigned char kPlain = 0, kContent = 1, kPage = 2;

struct Writer {
    std::FILE* file = nullptr;
    long long nbyt = 0; // bytes written so far
    int icomp = 1;      // 1: content streams deflated
    bool failed_write = false, failed_table = false;
    // Object tables: offset and kind by object number.
    std::vector<long long> nptr;
    std::vector<unsigned char> ityp;
    int nobj = 3; // next free object number
    // Page.
    int nwidth = 0, nheight = 0;
    int nstream = 0, nobjstr = 0, nobj1 = 1;
    // Content stream: buffered (to be deflated) or written directly.
    std::unique_ptr<unsigned char[]> cbuf;
    std::size_t nbuf = 0;
    bool buffered = false;
    bool istrop = false;
    long long start = 0; // offset of the stream data (direct streams)
    int lenobj = 0;      // the length object of a direct stream
    // Path.
    bool ipopt = false; // a segment has been written and not stroked
    int ipold = 3;      // 3: a move is pending
    double xold = 0.0, yold = 0.0;
    // Last fill colour.
    int ir = -1, ig = -1, ib = -1;
};

Writer w;

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

// Makes room for object n in the tables (grown by 100 entries at a time).
bool table_room(int n) {
    if (n < static_cast<int>(w.nptr.size())) return true;
    const std::size_t size = (static_cast<std::size_t>(n) / kTableStep + 1) * kTableStep;
    if (alloc_refused("pdf tables", size * (sizeof(long long) + 1))) return false;
    try {
        w.nptr.resize(size, 0);
        w.ityp.resize(size, kPlain);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

void put_file(const void* bytes, std::size_t n) {
    if (w.file == nullptr || n == 0) return;
    if (std::fwrite(bytes, 1, n, w.file) != n) w.failed_write = true;
    w.nbyt += static_cast<long long>(n);
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

void begin_stream() {
    w.buffered = false;
    w.nbuf = 0;
    if (w.icomp == 1) {
        w.cbuf = qqpalloc(kStreamMax, "pdf stream");
        w.buffered = w.cbuf != nullptr; // else this stream is written as it is
    }
    qqpdfobj(w.nobj, kContent);
    if (!w.buffered) {
        w.lenobj = w.nobj;
        qqpdfbuf("<< /Length " + fmt_int(w.lenobj) + " 0 R >>\n");
        qqpdfbuf("stream\n");
    }
    w.start = w.nbyt;
    w.istrop = true;
}

void end_stream() {
    if (!w.istrop) return;
    w.istrop = false;
    if (w.buffered) {
        const std::size_t n = w.nbuf;
        const std::size_t room = n + n / 100 + 13;
        auto out = qqpalloc(room, "pdf output");
        const long long size = out ? deflate_stream(w.cbuf.get(), n, out.get(), room) : -1;
        if (size >= 0) {
            qqpdfbuf("<< /Length " + fmt_int(size) + "\n");
            qqpdfbuf("/Filter /FlateDecode\n");
            qqpdfbuf(">>\n");
            qqpdfbuf("stream\n");
            put_file(out.get(), static_cast<std::size_t>(size));
        } else {
            qqpdfbuf("<< /Length " + fmt_int(static_cast<long long>(n)) + " >>\n");
            qqpdfbuf("stream\n");
            put_file(w.cbuf.get(), n);
        }
        w.cbuf.reset();
        w.nbuf = 0;
        qqpdfbuf("endstream\n");
        qqpdfbuf("endobj\n");
        return;
    }
    const long long length = w.nbyt - w.start;
    qqpdfbuf("endstream\n");
    qqpdfbuf("endobj\n");
    qqpdfobj(w.lenobj, kPlain);
    qqpdfbuf(fmt_int(length) + "\n");
    qqpdfbuf("endobj\n");
}

void page_object() {
    qqpdfobj(w.nobj, kPage);
    qqpdfbuf("<<\n");
    qqpdfbuf("/Type /Page\n");
    qqpdfbuf("/MediaBox [0 0 " + fmt_int(w.nwidth) + " " + fmt_int(w.nheight) + "]\n");
    qqpdfbuf("/Parent 2 0 R\n");
    // Text reaches the page as strokes, and there are no images.
    qqpdfbuf("/Resources << /ProcSet [/PDF]\n");
    qqpdfbuf(">>\n");
    if (w.nstream == 1) {
        qqpdfbuf("/Contents " + fmt_int(w.nobjstr) + " 0 R\n");
    } else {
        qqpdfbuf("/Contents [\n");
        for (int i = w.nobj1; i < w.nobj; ++i) {
            if (i < static_cast<int>(w.ityp.size()) && w.ityp[i] == kContent) {
                qqpdfbuf(fmt_int(i) + " 0 R\n");
            }
        }
        qqpdfbuf("]\n");
    }
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
}

void document_end() {
    const int last = w.nobj - 1; // the page
    // Page tree, object 2.
    w.nptr[2] = w.nbyt; // the tables hold at least 100 objects
    qqpdfbuf("2 0 obj\n");
    qqpdfbuf("<< /Type /Pages /Kids [\n");
    int pages = 0;
    for (int i = 3; i <= last && i < static_cast<int>(w.ityp.size()); ++i) {
        if (w.ityp[i] == kPage) {
            qqpdfbuf(fmt_int(i) + " 0 R\n");
            ++pages;
        }
    }
    qqpdfbuf("] /Count " + fmt_int(pages) + "\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
    // Catalog, object 1.
    w.nptr[1] = w.nbyt;
    qqpdfbuf("1 0 obj\n");
    qqpdfbuf("<< /Type /Catalog /Pages 2 0 R\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
    // Information.
    const int info = w.nobj;
    qqpdfobj(info, kPlain);
    const std::tm t = clock_now();
    qqpdfbuf("<< /CreationDate (D:" + zero_pad(t.tm_year + 1900, 4) + zero_pad(t.tm_mon + 1, 2) +
             zero_pad(t.tm_mday, 2) + zero_pad(t.tm_hour, 2) + zero_pad(t.tm_min, 2) +
             zero_pad(t.tm_sec, 2) + ")\n");
    qqpdfbuf("/Producer (PLOTIX 7.6)\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("endobj\n");
    // Cross-reference table and trailer.
    const long long xref = w.nbyt;
    const int size = w.nobj;
    qqpdfbuf("xref\n");
    qqpdfbuf("0 " + fmt_int(size) + "\n");
    qqpdfbuf("0000000000 65535 f \n");
    for (int i = 1; i < size; ++i) {
        const long long at = i < static_cast<int>(w.nptr.size()) ? w.nptr[i] : 0;
        qqpdfbuf(zero_pad(at, 10) + " 00000 n \n");
    }
    qqpdfbuf("trailer\n");
    qqpdfbuf("<< /Size " + fmt_int(size) + " /Root 1 0 R /Info " + fmt_int(info) + " 0 R\n");
    qqpdfbuf(">>\n");
    qqpdfbuf("startxref\n");
    qqpdfbuf(fmt_int(xref) + "\n");
    qqpdfbuf("%%EOF\n");
}

// Closes the file and drops the tables and buffers.
void release() {
    if (w.file != nullptr && std::fclose(w.file) != 0) w.failed_write = true;
    w.file = nullptr;
    w.istrop = false;
    w.cbuf.reset();
    w.nptr = {};
    w.ityp = {};
}

void stroke_open_path() {
    if (!w.ipopt) return;
    qqpdfbuf("S\n");
    w.ipopt = false;
    w.ipold = 3;
}

} // namespace

bool pdf_open() {
    return w.file != nullptr;
}

void qqpdfbuf(std::string_view bytes) {
    if (w.file == nullptr || bytes.empty()) return;
    // Single writes are short operator lines, far below the buffer size.
    if (w.istrop && w.buffered && bytes.size() <= kStreamMax) {
        if (w.nbuf + bytes.size() > kStreamMax) {
            qqpdfadd(1, 2);
            qqpdfadd(1, 1);
        }
        if (w.buffered) {
            std::memcpy(w.cbuf.get() + w.nbuf, bytes.data(), bytes.size());
            w.nbuf += bytes.size();
            return;
        }
    }
    put_file(bytes.data(), bytes.size());
}

void qqpdfobj(int n, int kind) {
    if (w.file == nullptr || n < 1) return;
    if (table_room(n)) {
        w.nptr[n] = w.nbyt;
        w.ityp[n] = static_cast<unsigned char>(kind);
    } else {
        w.failed_table = true; // reported at the end of the document
    }
    if (kind == kContent) {
        ++w.nstream;
        w.nobjstr = n;
    }
    qqpdfbuf(fmt_int(n) + " 0 obj\n");
    w.nobj = n + 1;
}

void qqpdfadd(int step, int mode) {
    if (w.file == nullptr) return;
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

int qqpdf1(const std::string& file, int width, int height, int option) {
    release();
    w = Writer{};
    w.icomp = ((option % 2) + 2) % 2;
    if (!table_room(kTableStep - 1)) return -2;
    w.file = std::fopen(file.c_str(), "wb");
    if (w.file == nullptr) {
        release();
        return -1;
    }
    w.nwidth = width;
    w.nheight = height;
    qqpdfbuf("%PDF-1.3\n");
    qqpdfadd(1, 1);
    qqpdfbuf("0.709 w\n");
    qqpdfbuf("2 J\n");
    qqpdfbuf("2 j\n");
    return 0;
}

int qqpdf2(double x, double y, int op) {
    if (w.file == nullptr) return 0;
    if (op != 2 && op != 5) stroke_open_path();
    switch (op) {
    case 3:
        w.xold = x;
        w.yold = y;
        w.ipold = 3;
        break;
    case 2:
        if (w.ipold == 3) qqpdfbuf(num2(w.xold) + " " + num2(w.yold) + " m\n");
        qqpdfbuf(num2(x) + " " + num2(y) + " l\n");
        w.ipopt = true;
        w.xold = x;
        w.yold = y;
        w.ipold = 2;
        break;
    case 5:
        // The fill consumes the path: no empty stroke follows, and a further
        // segment starts a new path at the last point.
        if (w.ipopt) {
            qqpdfbuf("h\n");
            qqpdfbuf("f*\n");
            w.ipopt = false;
            w.ipold = 3;
        }
        break;
    case 1: {
        qqpdfadd(1, 2);
        qqpdfadd(2, 0);
        qqpdfadd(3, 0);
        qqpdfadd(4, 0);
        release();
        const int status = w.failed_table ? -2 : (w.failed_write ? -1 : 0);
        w = Writer{};
        return status;
    }
    default: break;
    }
    return 0;
}

void qqpdf3(int r, int gr, int b, int mode) {
    if (w.file == nullptr) return;
    stroke_open_path();
    if (mode == 1) {
        if (r == w.ir && gr == w.ig && b == w.ib) return;
        w.ir = r;
        w.ig = gr;
        w.ib = b;
    }
    qqpdfbuf(component(r) + component(gr) + component(b) + (mode == 1 ? "rg\n" : "RG\n"));
}

void qqpdf4(double x, double y, double wd, double ht) {
    if (w.file == nullptr) return;
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
    ~Pdf() override {
        // A plot abandoned without disfin leaves no open file behind.
        if (!open_) return;
        release();
        w = Writer{};
    }

    void begin() override {
        const float s = pdf_scale();
        g.dev.scale = s;
        float pw, ph;
        oriented_page(pw, ph);
        const bool landscape = pw > ph && g.page.swap != 2;
        width_ = static_cast<int>(1.0f + (landscape ? ph : pw) * s);
        height_ = static_cast<int>(1.0f + (landscape ? pw : ph) * s);
        // The writer opens its own file; an unusable or uncreatable name
        // leaves the plot without output (warning 36), as for PostScript.
        int status = gfilnn(g.out.filename) != 0
                         ? -1
                         : qqpdf1(g.out.filename, width_, height_, g.dev.pdfopt);
        if (status == -1) {
            warnc1(36, g.out.filename);
            return;
        }
        if (status == -2) {
            warnin(53);
            return;
        }
        open_ = true;
        g.out.file_written = true;
        if (g.dev.bgmode != 2) {
            qqpdf3(0, 0, 0, 1);
            qqpdf4(0.0, 0.0, width_, height_);
        }
    }

    void vertex(double x, double y, int op) override {
        if (open_) qqpdf2(x, y, op);
    }

    void colour(int, int r, int gr, int b) override {
        if (!open_) return;
        qqpdf3(r, gr, b, 0);
        qqpdf3(r, gr, b, 1);
    }

    // The corners arrive as the PostScript box numbers before rounding,
    // already in points: lower left and upper right of the page's rectangle.
    void box(double x1, double y1, double x2, double y2, int, int r, int gr, int b) override {
        if (!open_) return;
        qqpdf3(r, gr, b, 1);
        qqpdf4(x1, y1, x2 - x1, y2 - y1);
    }

    void polygon(const int* x, const int* y, int n) override {
        if (!open_ || n <= 0) return;
        qqpdf2(x[0], y[0], 3);
        for (int i = 1; i < n; ++i) qqpdf2(x[i], y[i], 2);
        qqpdf2(0.0, 0.0, 5);
    }

    void finish() override {
        if (!open_) return;
        open_ = false;
        const int status = qqpdf2(0.0, 0.0, 1);
        if (status == -1) warnc1(36, g.out.filename);
        if (status == -2) warnin(53);
    }

  private:
    bool open_ = false;
    int width_ = 0, height_ = 0;
};

} // namespace

std::unique_ptr<Driver> make_pdf_driver() {
    return std::make_unique<Pdf>();
}

} // namespace plotix::detail
