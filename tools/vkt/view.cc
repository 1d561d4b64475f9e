// `vkt view`: the companion text viewer the library starts on a composed
// report file.
//
//   vkt view -t -m=N -r=ROWS [-c] FILE [--pdf OUT]
//
// Pages the file in the terminal (plain text when standard output is not a
// terminal), or writes it as PDF with --pdf.
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "print/text_document.h"
#include "tools/vkt/vkt.h"
#include "win/cp1252.h"

namespace vkt::tool {
namespace {

constexpr const char* kViewUsage = "uso: vkt view -t -m=N -r=RIGHE [-c] FILE [--pdf USCITA]\n";

bool Digits(const std::string& s) {
  if (s.empty() || s.size() > 9) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// A line for the terminal: control bytes must not reach it.
std::string ForTerminal(const std::string& line) {
  std::string shown = line;
  for (char& c : shown)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  return win::Cp1252ToUtf8(shown);
}

void ShowPage(const print_io::TextPage& page) {
  for (const std::string& line : page) std::printf("%s\n", ForTerminal(line).c_str());
}

int Page(const std::vector<print_io::TextPage>& pages, const std::string& title) {
  size_t at = 0;
  for (;;) {
    std::printf("\033[H\033[2J");
    ShowPage(pages[at]);
    std::printf("-- %s: pagina %zu di %zu -- [Invio] avanti, p indietro, numero, q esci: ",
                title.c_str(), at + 1, pages.size());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer) || answer == "q" || answer == "Q") break;
    if (answer.empty() || answer == "n") {
      if (at + 1 >= pages.size()) break;
      ++at;
    } else if (answer == "p") {
      if (at > 0) --at;
    } else if (Digits(answer)) {
      size_t n = std::stoul(answer);
      if (n >= 1 && n <= pages.size()) at = n - 1;
    }
  }
  std::printf("\n");
  return 0;
}

}  // namespace

int View(const std::vector<std::string>& args) {
  print_io::TextLayout layout;
  std::string file, pdf;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-t") {
      // Text mode: the only mode there is.
    } else if (a.rfind("-m=", 0) == 0 && Digits(a.substr(3))) {
      layout.printer_type = std::stoi(a.substr(3));
    } else if (a.rfind("-r=", 0) == 0 && Digits(a.substr(3)) && std::stoi(a.substr(3)) > 0) {
      layout.rows = std::stoi(a.substr(3));
    } else if (a == "-c") {
      layout.condensed = true;
    } else if (a == "--pdf" && i + 1 < args.size()) {
      pdf = args[++i];
    } else if (a.rfind("--pdf=", 0) == 0 && a.size() > 6) {
      pdf = a.substr(6);
    } else if (!a.empty() && a[0] != '-' && file.empty()) {
      file = a;
    } else {
      std::fprintf(stderr, "vkt view: argomento non valido: %s\n%s", a.c_str(), kViewUsage);
      return 2;
    }
  }
  if (file.empty()) {
    std::fputs(kViewUsage, stderr);
    return 2;
  }
  std::ifstream in(file, std::ios::binary);
  std::string bytes;
  if (in.is_open())
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.is_open() || in.bad()) {
    std::fprintf(stderr, "vkt view: file non leggibile: %s\n", file.c_str());
    return 1;
  }
  std::vector<print_io::TextPage> pages = print_io::SplitTextPages(bytes, layout.rows);

  if (!pdf.empty()) {
    std::string error;
    if (!print_io::WriteTextPdf(pages, layout, pdf, &error)) {
      std::fprintf(stderr, "vkt view: %s: %s\n", pdf.c_str(), error.c_str());
      return 1;
    }
    std::printf("PDF di %zu pagine: %s\n", pages.empty() ? size_t{1} : pages.size(),
                pdf.c_str());
    return 0;
  }
  if (pages.empty()) return 0;
  if (isatty(STDOUT_FILENO) && isatty(STDIN_FILENO)) return Page(pages, file);
  for (size_t p = 0; p < pages.size(); ++p) {
    if (p > 0) std::fputs("\f", stdout);
    ShowPage(pages[p]);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}

}  // namespace vkt::tool
