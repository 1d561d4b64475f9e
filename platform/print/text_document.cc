#include "print/text_document.h"

#include <cairo-pdf.h>
#include <cairo.h>

#include <algorithm>

#include "win/cp1252.h"

namespace vkt::print_io {
namespace {

constexpr double kPageWidth = 595.276;   // A4, points
constexpr double kPageHeight = 841.890;
constexpr double kMargin = 36.0;         // half an inch
constexpr double kLinePitch = 12.0;      // 6 lines per inch

// What a line shows: control bytes (escape sequences of a raw stream) as
// blanks, the rest from Windows-1252 to UTF-8.
std::string Printable(const std::string& line) {
  std::string shown = line;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return win::Cp1252ToUtf8(shown);
}

}  // namespace

std::vector<TextPage> SplitTextPages(std::string_view bytes, int32_t rows) {
  std::vector<TextPage> pages;
  TextPage page;
  std::string line;
  bool after_full_page = false;  // a form feed right after a full page is no new page
  auto end_line = [&] {
    page.push_back(line);
    line.clear();
    if (rows > 0 && static_cast<int32_t>(page.size()) >= rows) {
      pages.push_back(std::move(page));
      page.clear();
      after_full_page = true;
    } else {
      after_full_page = false;
    }
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    char c = bytes[i];
    if (c == '\r') {
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      end_line();
    } else if (c == '\n') {
      end_line();
    } else if (c == '\f') {
      if (!line.empty()) end_line();
      if (!page.empty() || !after_full_page) {
        pages.push_back(std::move(page));
        page.clear();
      }
      after_full_page = true;
    } else {
      line += c;
    }
  }
  if (!line.empty()) page.push_back(line);
  if (!page.empty()) pages.push_back(std::move(page));
  return pages;
}

double CharactersPerInch(const TextLayout& layout) {
  if (!layout.condensed) return 10.0;
  return (layout.printer_type == 1 || layout.printer_type == 2) ? 16.67 : 17.14;
}

bool WriteTextPdf(const std::vector<TextPage>& pages, const TextLayout& layout,
                  const std::string& path, std::string* error) {
  auto fail = [&](const char* what, cairo_status_t s) {
    if (error != nullptr) *error = std::string(what) + ": " + cairo_status_to_string(s);
    return false;
  };
  size_t columns = 1;
  size_t most_rows = static_cast<size_t>(std::max<int32_t>(layout.rows, 1));
  for (const TextPage& p : pages) {
    most_rows = std::max(most_rows, p.size());
    for (const std::string& l : p) columns = std::max(columns, l.size());
  }
  const double usable_w = kPageWidth - 2 * kMargin;
  const double usable_h = kPageHeight - 2 * kMargin;
  double advance = 72.0 / CharactersPerInch(layout);
  if (advance * static_cast<double>(columns) > usable_w)
    advance = usable_w / static_cast<double>(columns);
  double pitch = kLinePitch;
  if (pitch * static_cast<double>(most_rows) > usable_h)
    pitch = usable_h / static_cast<double>(most_rows);

  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), kPageWidth, kPageHeight);
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_status_t s = cairo_surface_status(surface);
    cairo_surface_destroy(surface);
    return fail("PDF non creato", s);
  }
  cairo_t* cr = cairo_create(surface);
  cairo_select_font_face(cr, "DejaVu Sans Mono", CAIRO_FONT_SLANT_NORMAL,
                         CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, 10.0);
  cairo_text_extents_t ext;
  cairo_text_extents(cr, "0", &ext);
  double size = ext.x_advance > 0 ? advance * 10.0 / ext.x_advance : pitch;
  cairo_set_font_size(cr, std::min(size, pitch));
  cairo_set_source_rgb(cr, 0, 0, 0);

  const std::vector<TextPage> blank(1);
  for (const TextPage& p : pages.empty() ? blank : pages) {
    for (size_t r = 0; r < p.size(); ++r) {
      if (p[r].empty()) continue;
      // Each character on its grid cell, so columns line up whatever the
      // font's own advance.
      std::string shown = Printable(p[r]);
      double y = kMargin + static_cast<double>(r + 1) * pitch - pitch * 0.22;
      size_t cell = 0;
      for (size_t i = 0; i < shown.size();) {
        size_t len = 1;
        unsigned char lead = static_cast<unsigned char>(shown[i]);
        if (lead >= 0xF0) len = 4;
        else if (lead >= 0xE0) len = 3;
        else if (lead >= 0xC0) len = 2;
        std::string glyph = shown.substr(i, len);
        if (glyph != " ") {
          cairo_move_to(cr, kMargin + static_cast<double>(cell) * advance, y);
          cairo_show_text(cr, glyph.c_str());
        }
        i += len;
        ++cell;
      }
    }
    cairo_show_page(cr);
  }
  cairo_status_t s = cairo_status(cr);
  cairo_destroy(cr);
  cairo_surface_finish(surface);
  if (s == CAIRO_STATUS_SUCCESS) s = cairo_surface_status(surface);
  cairo_surface_destroy(surface);
  if (s != CAIRO_STATUS_SUCCESS) return fail("PDF non scritto", s);
  return true;
}

}  // namespace vkt::print_io
