// Reading back composed text pages, and drawing them as PDF.
//
// A composed file holds whole pages of `rows` lines, each line its columns
// followed by carriage return and line feed; a form feed also ends a page
// (raw streams written by hand use them).
//
//   auto pages = vkt::print_io::SplitTextPages(bytes, 66);
//   std::string error;
//   vkt::print_io::TextLayout layout{66, /*condensed=*/true, /*printer_type=*/1};
//   if (!vkt::print_io::WriteTextPdf(pages, layout, "out.pdf", &error)) ...
#ifndef VKT_PRINT_TEXT_DOCUMENT_H_
#define VKT_PRINT_TEXT_DOCUMENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "vkt_export.h"

namespace vkt::print_io {

// Lines of one page, Windows-1252 bytes without their line ends.
using TextPage = std::vector<std::string>;

// Splits into pages of `rows` lines (rows <= 0: form feeds alone end
// pages). Line ends are CR LF, LF or a lone CR; a final empty page is not
// kept.
VKT_API std::vector<TextPage> SplitTextPages(std::string_view bytes, int32_t rows);

struct TextLayout {
  int32_t rows = 66;       // lines per page; the page pitch fits them
  bool condensed = false;  // condensed pitch instead of 10 characters per inch
  int printer_type = 0;    // 1 and 2: 16.67 cpi condensed, others 17.1 cpi
};

// Characters per inch the printer would print at.
VKT_API double CharactersPerInch(const TextLayout& layout);

// One A4 portrait PDF page per text page, in a monospaced font at the
// printer's pitch and 6 lines per inch, scaled down when the page or the
// longest line would not fit. False, with the reason, when the file cannot
// be written.
VKT_API bool WriteTextPdf(const std::vector<TextPage>& pages, const TextLayout& layout,
                          const std::string& path, std::string* error);

}  // namespace vkt::print_io

#endif  // VKT_PRINT_TEXT_DOCUMENT_H_
