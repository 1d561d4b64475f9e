// The installed printers, and the user's preferred one kept in the
// application profile (section "PrinterConfig"), for hosts that print
// through the standard print dialogs.
//
//   CEnumPrinters printers;
//   HANDLE dev_mode = nullptr, dev_names = nullptr;
//   if (!printers.RestorePrinterSelection(dev_mode, dev_names))
//     printers.SetNewPrinter(dev_mode, dev_names, 0);
//   printers.SetPrintOrientation(dev_mode, DMORIENT_LANDSCAPE);
//   printers.SavePrinterSelection(dev_mode, dev_names);
//
// The two handles are movable memory blocks (print/global_memory.h): a
// DEVMODEA with the settings and a DEVNAMES with driver, device and port.
#ifndef VKT_PRINT_ENUM_PRINTERS_H_
#define VKT_PRINT_ENUM_PRINTERS_H_

#include <vector>

#include "print/global_memory.h"
#include "vkt_export.h"
#include "win/cstring.h"

class VKT_API CEnumPrinters {
 public:
  CEnumPrinters();
  virtual ~CEnumPrinters();

  // Lists the printers anew: name, location, share name and port of each.
  void ReadLocalPrinters();

  int GetPrinterCount() const { return m_count; }
  // The entry at a 0-based position, or "Error" when there is none.
  CString GetPrinterName(int index) const;
  CString GetPrinterLocation(int index) const;
  CString GetPrinterShareName(int index) const;
  CString GetPrinterPortName(int index) const;

  // New settings and names blocks for the printer, with its default
  // settings; the caller's old blocks are released. False, with the
  // caller's blocks untouched, when the printer cannot be opened.
  bool SetNewPrinter(HANDLE& devMode, HANDLE& devNames, const CString& name,
                     const CString& driver, const CString& port);
  // The printer at that position, driver "winspool".
  bool SetNewPrinter(HANDLE& devMode, HANDLE& devNames, int index);
  // 1 portrait, 2 landscape.
  bool SetPrintOrientation(HANDLE& devMode, int orientation);
  // Writes "PrinterName", "Spooler", "Port" and "Landscape" of
  // "PrinterConfig".
  bool SavePrinterSelection(HANDLE& devMode, HANDLE& devNames);
  // Selects the saved printer again when it is still installed.
  bool RestorePrinterSelection(HANDLE& devMode, HANDLE& devNames);

 protected:
  int m_count = 0;
  std::vector<CString> m_names;
  std::vector<CString> m_locations;
  std::vector<CString> m_share_names;
  std::vector<CString> m_port_names;
};

#endif  // VKT_PRINT_ENUM_PRINTERS_H_
