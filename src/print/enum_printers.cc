#include "print/enum_printers.h"

#include <cstring>
#include <string>

#include "frame/vktapp.h"
#include "print/cups_queue.h"
#include "win/services.h"
#include "win/winconst.h"

namespace {

constexpr const char* kSection = "PrinterConfig";

bool NoBlock(HANDLE h) { return h == nullptr || h == reinterpret_cast<HANDLE>(intptr_t{-1}); }

// Unlocks a block as often as it is locked, then frees it.
void Release(HANDLE& h) {
  if (NoBlock(h)) return;
  UINT flags = GlobalFlags(h);
  if (flags != GMEM_INVALID_HANDLE) {
    for (UINT n = flags & GMEM_LOCKCOUNT; n > 0; --n) GlobalUnlock(h);
    GlobalFree(h);
  }
  h = nullptr;
}

short PaperOf(const std::string& media) {
  auto has = [&](const char* s) { return media.find(s) != std::string::npos; };
  if (has("a4")) return DMPAPER_A4;
  if (has("a3")) return DMPAPER_A3;
  if (has("a5")) return DMPAPER_A5;
  if (has("letter")) return DMPAPER_LETTER;
  if (has("legal")) return DMPAPER_LEGAL;
  return 0;
}

// The zero-terminated name at a DEVNAMES offset, kept inside the block.
bool NameAt(const char* block, size_t size, WORD offset, std::string* out) {
  if (offset < sizeof(DEVNAMES) || offset >= size) return false;
  size_t n = strnlen(block + offset, size - offset);
  if (n == size - offset) return false;
  out->assign(block + offset, n);
  return true;
}

bool ReadNames(HANDLE h, std::string* driver, std::string* device, std::string* port) {
  if (NoBlock(h)) return false;
  const size_t size = GlobalSize(h);
  auto* block = static_cast<const char*>(GlobalLock(h));
  if (block == nullptr) return false;
  bool ok = false;
  if (size >= sizeof(DEVNAMES)) {
    DEVNAMES dn;
    std::memcpy(&dn, block, sizeof dn);
    ok = NameAt(block, size, dn.wDriverOffset, driver) &&
         NameAt(block, size, dn.wDeviceOffset, device) &&
         NameAt(block, size, dn.wOutputOffset, port);
  }
  GlobalUnlock(h);
  return ok;
}

int OrientationOf(HANDLE h) {
  if (NoBlock(h) || GlobalSize(h) < sizeof(DEVMODEA)) return 1;
  auto* dm = static_cast<const DEVMODEA*>(GlobalLock(h));
  if (dm == nullptr) return 1;
  int v = dm->dmOrientation;
  GlobalUnlock(h);
  return v;
}

CString At(const std::vector<CString>& list, int index) {
  if (index < 0 || index >= static_cast<int>(list.size())) return CString("Error");
  return list[static_cast<size_t>(index)];
}

}  // namespace

CEnumPrinters::CEnumPrinters() { ReadLocalPrinters(); }

CEnumPrinters::~CEnumPrinters() = default;

void CEnumPrinters::ReadLocalPrinters() {
  // Listed anew, so a second call does not count every printer twice.
  m_count = 0;
  m_names.clear();
  m_locations.clear();
  m_share_names.clear();
  m_port_names.clear();
  for (const vkt::print_io::PrinterInfo& p : vkt::print_io::ListPrinters()) {
    m_names.emplace_back(p.name);
    m_locations.emplace_back(p.location);
    m_share_names.emplace_back(p.share_name);
    m_port_names.emplace_back(p.port_name);
    ++m_count;
  }
}

CString CEnumPrinters::GetPrinterName(int index) const { return At(m_names, index); }
CString CEnumPrinters::GetPrinterLocation(int index) const { return At(m_locations, index); }
CString CEnumPrinters::GetPrinterShareName(int index) const { return At(m_share_names, index); }
CString CEnumPrinters::GetPrinterPortName(int index) const { return At(m_port_names, index); }

bool CEnumPrinters::SetNewPrinter(HANDLE& devMode, HANDLE& devNames, const CString& name,
                                  const CString& driver, const CString& port) {
  vkt::print_io::PrinterSettings settings;
  if (!vkt::print_io::GetPrinterSettings(name.str(), &settings)) return false;

  HGLOBAL mode = GlobalAlloc(GHND, sizeof(DEVMODEA));
  auto* dm = static_cast<DEVMODEA*>(GlobalLock(mode));
  if (dm == nullptr) {
    GlobalFree(mode);
    return false;
  }
  std::strncpy(reinterpret_cast<char*>(dm->dmDeviceName), name.GetString(), CCHDEVICENAME - 1);
  dm->dmSpecVersion = DM_SPECVERSION;
  dm->dmSize = sizeof(DEVMODEA);
  dm->dmFields = DM_ORIENTATION | DM_COPIES | DM_COLOR | DM_DUPLEX;
  dm->dmOrientation = static_cast<short>(settings.orientation);
  dm->dmCopies = static_cast<short>(settings.copies > 32767 ? 32767 : settings.copies);
  dm->dmColor = settings.color ? DMCOLOR_COLOR : DMCOLOR_MONOCHROME;
  dm->dmDuplex = settings.duplex ? DMDUP_VERTICAL : DMDUP_SIMPLEX;
  if (short paper = PaperOf(settings.media); paper != 0) {
    dm->dmPaperSize = paper;
    dm->dmFields |= DM_PAPERSIZE;
  }
  GlobalUnlock(mode);

  // Driver, device and port follow the header, each with its terminator;
  // the offsets are 16-bit, so names that would not fit are refused.
  const size_t driver_at = sizeof(DEVNAMES);
  const size_t device_at = driver_at + static_cast<size_t>(driver.GetLength()) + 1;
  const size_t port_at = device_at + static_cast<size_t>(name.GetLength()) + 1;
  const size_t total = port_at + static_cast<size_t>(port.GetLength()) + 1;
  if (port_at > 0xFFFF) {
    GlobalFree(mode);
    return false;
  }
  HGLOBAL names = GlobalAlloc(GHND, total);
  auto* block = static_cast<char*>(GlobalLock(names));
  if (block == nullptr) {
    GlobalFree(mode);
    GlobalFree(names);
    return false;
  }
  DEVNAMES dn{static_cast<WORD>(driver_at), static_cast<WORD>(device_at),
              static_cast<WORD>(port_at), 0};
  std::memcpy(block, &dn, sizeof dn);
  std::memcpy(block + driver_at, driver.GetString(), static_cast<size_t>(driver.GetLength()));
  std::memcpy(block + device_at, name.GetString(), static_cast<size_t>(name.GetLength()));
  std::memcpy(block + port_at, port.GetString(), static_cast<size_t>(port.GetLength()));
  GlobalUnlock(names);

  Release(devMode);
  Release(devNames);
  devMode = mode;
  devNames = names;
  return true;
}

bool CEnumPrinters::SetNewPrinter(HANDLE& devMode, HANDLE& devNames, int index) {
  if (index < 0 || index >= m_count) return false;
  return SetNewPrinter(devMode, devNames, GetPrinterName(index), CString("winspool"),
                       GetPrinterPortName(index));
}

bool CEnumPrinters::SetPrintOrientation(HANDLE& devMode, int orientation) {
  if (NoBlock(devMode) || (orientation != 1 && orientation != 2)) return false;
  if (GlobalSize(devMode) < sizeof(DEVMODEA)) return false;
  auto* dm = static_cast<DEVMODEA*>(GlobalLock(devMode));
  if (dm == nullptr) return false;
  dm->dmOrientation = static_cast<short>(orientation);
  GlobalUnlock(devMode);
  return true;
}

bool CEnumPrinters::SavePrinterSelection(HANDLE& devMode, HANDLE& devNames) {
  std::string driver, device, port;
  if (!ReadNames(devNames, &driver, &device, &port)) return false;
  vkt::Services& s = vkt::services();
  // A profile that could not be written is no saved selection.
  return s.WriteProfileString(kSection, "PrinterName", device) &&
         s.WriteProfileString(kSection, "Spooler", driver) &&
         s.WriteProfileString(kSection, "Port", port) &&
         s.WriteProfileInt(kSection, "Landscape", OrientationOf(devMode));
}

bool CEnumPrinters::RestorePrinterSelection(HANDLE& devMode, HANDLE& devNames) {
  vkt::Services& s = vkt::services();
  const std::string name = s.GetProfileString(kSection, "PrinterName", "");
  const std::string driver = s.GetProfileString(kSection, "Spooler", "");
  const std::string port = s.GetProfileString(kSection, "Port", "");
  const int landscape = s.GetProfileInt(kSection, "Landscape", 1);
  if (name.empty() || driver.empty() || port.empty()) return false;
  for (const CString& installed : m_names) {
    if (installed.str() == name) {
      // Still installed but not selectable is no restored selection.
      if (!SetNewPrinter(devMode, devNames, CString(name), CString(driver), CString(port)))
        return false;
      SetPrintOrientation(devMode, landscape);
      return true;
    }
  }
  vkt::Report(
      "Warning : Unable to re-select your preffered printer\nas it is no longer available. "
      "The system default printer\nwill be used.",
      "VKTDlg", MB_OK | MB_ICONEXCLAMATION);
  return false;
}
