// Movable memory blocks and the printer-settings blocks kept in them.
//
// Hosts keep the chosen printer as two handles, a DEVMODE block (settings)
// and a DEVNAMES block (driver, device and port names), allocated, locked
// and freed with the Global* calls as on Windows:
//
//   HGLOBAL h = GlobalAlloc(GHND, sizeof(DEVMODEA));
//   auto* dm = static_cast<DEVMODEA*>(GlobalLock(h));
//   dm->dmOrientation = DMORIENT_LANDSCAPE;
//   GlobalUnlock(h);
//   GlobalFree(h);
//
// Handles are looked up, never dereferenced: a stale, null or invalid
// (-1) handle makes every call fail harmlessly. Not thread-safe.
#ifndef VKT_PRINT_GLOBAL_MEMORY_H_
#define VKT_PRINT_GLOBAL_MEMORY_H_

#include <cstddef>
#include <cstdint>

#include "vkt_export.h"

using HANDLE = void*;
using HGLOBAL = HANDLE;
using UINT = unsigned int;
using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;
constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr UINT GMEM_LOCKCOUNT = 0x00FF;
constexpr UINT GMEM_INVALID_HANDLE = 0x8000;

// A new block of `bytes` (zero-filled with GMEM_ZEROINIT); null on failure.
VKT_API HGLOBAL GlobalAlloc(UINT flags, size_t bytes);
// The block's memory, its lock count raised; null for an unknown handle.
VKT_API void* GlobalLock(HGLOBAL h);
// Lowers the lock count; non-zero while the block stays locked.
VKT_API BOOL GlobalUnlock(HGLOBAL h);
// Null when freed; the handle itself when it is unknown.
VKT_API HGLOBAL GlobalFree(HGLOBAL h);
// Size in bytes; 0 for an unknown handle.
VKT_API size_t GlobalSize(HGLOBAL h);
// The lock count in the low byte; GMEM_INVALID_HANDLE for an unknown handle.
VKT_API UINT GlobalFlags(HGLOBAL h);

// --- printer settings ---------------------------------------------------------

constexpr DWORD DM_ORIENTATION = 0x00000001;
constexpr DWORD DM_PAPERSIZE = 0x00000002;
constexpr DWORD DM_COPIES = 0x00000100;
constexpr DWORD DM_COLOR = 0x00000800;
constexpr DWORD DM_DUPLEX = 0x00001000;
constexpr short DMORIENT_PORTRAIT = 1;
constexpr short DMORIENT_LANDSCAPE = 2;
constexpr short DMPAPER_LETTER = 1;
constexpr short DMPAPER_LEGAL = 5;
constexpr short DMPAPER_A3 = 8;
constexpr short DMPAPER_A4 = 9;
constexpr short DMPAPER_A5 = 11;
constexpr short DMCOLOR_MONOCHROME = 1;
constexpr short DMCOLOR_COLOR = 2;
constexpr short DMDUP_SIMPLEX = 1;
constexpr short DMDUP_VERTICAL = 2;
constexpr WORD DM_SPECVERSION = 0x0401;
constexpr int CCHDEVICENAME = 32;
constexpr int CCHFORMNAME = 32;

// The printer part of the Windows settings block, field for field (the
// display fields at the end are kept as reserved space).
struct DEVMODEA {
  BYTE dmDeviceName[CCHDEVICENAME];
  WORD dmSpecVersion;
  WORD dmDriverVersion;
  WORD dmSize;
  WORD dmDriverExtra;
  DWORD dmFields;
  short dmOrientation;
  short dmPaperSize;
  short dmPaperLength;
  short dmPaperWidth;
  short dmScale;
  short dmCopies;
  short dmDefaultSource;
  short dmPrintQuality;
  short dmColor;
  short dmDuplex;
  short dmYResolution;
  short dmTTOption;
  short dmCollate;
  BYTE dmFormName[CCHFORMNAME];
  WORD dmLogPixels;
  DWORD dmBitsPerPel;
  DWORD dmPelsWidth;
  DWORD dmPelsHeight;
  DWORD dmDisplayFlags;
  DWORD dmDisplayFrequency;
  DWORD dmICMMethod;
  DWORD dmICMIntent;
  DWORD dmMediaType;
  DWORD dmDitherType;
  DWORD dmReserved1;
  DWORD dmReserved2;
  DWORD dmPanningWidth;
  DWORD dmPanningHeight;
};
static_assert(offsetof(DEVMODEA, dmOrientation) == 44);
static_assert(offsetof(DEVMODEA, dmFormName) == 70);
static_assert(sizeof(DEVMODEA) == 156);

// Offsets, in characters from the start of the block, of three
// zero-terminated names that follow the header.
struct DEVNAMES {
  WORD wDriverOffset;
  WORD wDeviceOffset;
  WORD wOutputOffset;
  WORD wDefault;
};
static_assert(sizeof(DEVNAMES) == 8);

#endif  // VKT_PRINT_GLOBAL_MEMORY_H_
