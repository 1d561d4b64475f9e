#include "services/zipprogress.h"

#include <cstdio>

namespace {

constexpr size_t kStatusSize = 460;

// Kilobytes of an unsigned 32-bit byte count.
double Kb(uint32_t bytes) { return static_cast<double>(bytes) / 1024.0; }

const char* Path(const char* p) { return p ? p : ""; }

}  // namespace

CVKTChilkatZipProgress::CVKTChilkatZipProgress() = default;
CVKTChilkatZipProgress::~CVKTChilkatZipProgress() = default;

void CVKTChilkatZipProgress::Show(const char* text) {
  m_dlg.SetStatus(text);
  if (m_dlg.m_hWnd && IsWindow(m_dlg.m_hWnd))
    m_dlg.RedrawWindow(nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void CVKTChilkatZipProgress::CheckCancel(bool* abort) {
  if (m_dlg.CheckCancelButton() && abort) *abort = true;
}

void CVKTChilkatZipProgress::AbortCheck(bool* abort) { CheckCancel(abort); }

void CVKTChilkatZipProgress::PercentDone(int percent, bool* abort) {
  m_dlg.SetPos(percent);
  CheckCancel(abort);
}

void CVKTChilkatZipProgress::DirToBeAdded(const char* path, bool*) {
  char text[kStatusSize];
  std::snprintf(text, sizeof text, "Aggiunta Directory %-s", Path(path));
  Show(text);
}

void CVKTChilkatZipProgress::AddFilesBegin() { Show("Inizio Aggiunta File..."); }
void CVKTChilkatZipProgress::AddFilesEnd() { Show("Fine Aggiunta File..."); }
void CVKTChilkatZipProgress::WriteZipBegin() { Show("Inizio Scrittura File..."); }
void CVKTChilkatZipProgress::WriteZipEnd() { Show("Fine Scrittura File..."); }
void CVKTChilkatZipProgress::UnzipBegin() { Show("Inizio Decompressione..."); }
void CVKTChilkatZipProgress::UnzipEnd() { Show("Fine Decompressione..."); }

void CVKTChilkatZipProgress::ToBeAdded(const char* path, uint32_t size, bool*) {
  char text[kStatusSize];
  std::snprintf(text, sizeof text, "Aggiunta File %-s (%.1f KB)", Path(path), Kb(size));
  Show(text);
}

void CVKTChilkatZipProgress::FileAdded(const char* path, uint32_t size, bool* abort) {
  char text[kStatusSize];
  std::snprintf(text, sizeof text, "File Aggiunto %-s (%.1f KB)", Path(path), Kb(size));
  Show(text);
  CheckCancel(abort);
}

void CVKTChilkatZipProgress::ToBeZipped(const char* path, uint32_t size, bool* abort) {
  char text[kStatusSize];
  std::snprintf(text, sizeof text, "Compressione %-s (%.1f KB)", Path(path), Kb(size));
  Show(text);
  CheckCancel(abort);
}

void CVKTChilkatZipProgress::FileZipped(const char* path, uint32_t size, uint32_t, bool* abort) {
  char text[kStatusSize];
  std::snprintf(text, sizeof text, "Fine Compressione %-s (%.1f KB)", Path(path), Kb(size));
  Show(text);
  CheckCancel(abort);
}

void CVKTChilkatZipProgress::ToBeUnzipped(const char* path, uint32_t size1, uint32_t size2, bool* abort) {
  char text[kStatusSize];
  std::snprintf(text, sizeof text, "Decompressione %-s (%.1f - %.1f KB)", Path(path), Kb(size1), Kb(size2));
  Show(text);
  CheckCancel(abort);
}

void CVKTChilkatZipProgress::FileUnzipped(const char* path, uint32_t size1, uint32_t size2, bool* abort) {
  char text[kStatusSize];
  std::snprintf(text, sizeof text, "Fine Decompressione %-s (%.1f - %.1f KB)", Path(path), Kb(size1),
                Kb(size2));
  Show(text);
  CheckCancel(abort);
}
