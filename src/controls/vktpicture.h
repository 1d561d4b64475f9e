// A picture loaded from a file, a resource of the host or memory (bitmap,
// icon, placeable WMF metafile, JPEG, GIF; an EMF metafile is refused) and
// drawn on a device context at its natural size, at a given size or scaled.
// The natural size is kept in HIMETRIC units (hundredths of a millimetre),
// as a picture object keeps it.
//
//   CVKTPicture logo;
//   if (logo.Load("/srv/mirto/logo.jpg")) logo.Draw(&dc, CPoint(10, 10), 0.5);
//   else vkt::services().Notice(logo.GetLastError());
#ifndef VKT_CONTROLS_VKTPICTURE_H_
#define VKT_CONTROLS_VKTPICTURE_H_

#include <memory>
#include <string>
#include <vector>

#include "image/image.h"
#include "vkt_export.h"
#include "win/cstring.h"
#include "win/gdi.h"

namespace vkt::controls {
// The host program's own binary resources by type and name (compared
// without case, as resource names are). For tests and hosts.
VKT_API void RegisterRawResource(const std::string& type, const std::string& name,
                                 std::vector<unsigned char> bytes);
VKT_API void ClearRawResources();
}  // namespace vkt::controls

class VKT_API CVKTPicture {
 public:
  CVKTPicture();
  virtual ~CVKTPicture();
  CVKTPicture(const CVKTPicture&) = delete;
  CVKTPicture& operator=(const CVKTPicture&) = delete;

  // Any loaded picture is released first; false (and nothing loaded) when
  // the file cannot be read or is not a picture.
  bool Load(CString file);
  // A resource of the host named `name` of type `type`.
  bool Load(CString type, CString name);
  // From bytes in memory.
  bool LoadFromMemory(const unsigned char* data, int size) { return LoadFromBuffer(data, size); }

  bool IsLoaded() const { return picture_ != nullptr; }
  // Natural size in HIMETRIC units; (0, 0) when nothing is loaded.
  CSize GetHimetricSize() const;
  // Natural size in device pixels.
  CSize GetSize(CDC* dc) const;

  bool Draw(CDC* dc);
  bool Draw(CDC* dc, CPoint pos);
  bool Draw(CDC* dc, CPoint pos, CSize size);
  bool Draw(CDC* dc, double scale);
  bool Draw(CDC* dc, CPoint pos, double scale);

  // Why the last load failed (empty after a success).
  const std::string& GetLastError() const { return last_error_; }
  // The decoded pixels, for tests and tools (null when nothing is loaded).
  const vkt::image::Decoded* GetImage() const { return picture_.get(); }

 private:
  bool LoadFromBuffer(const unsigned char* data, int size);
  static bool GetResource(const char* name, const char* type, void* buffer, int& size);
  void UnLoad();
  bool Draw(CDC* dc, int x, int y, int cx, int cy);

  std::unique_ptr<vkt::image::Decoded> picture_;
  CSize himetric_;
  std::string last_error_;
};

namespace vkt::controls {
// Device pixels per logical inch of a device context (96 on the canvas).
VKT_API int PixelsPerInch(CDC* dc);
// Win32 MulDiv: a * b / c rounded half away from zero; -1 when c is 0.
VKT_API int MulDiv(int a, int b, int c);
}  // namespace vkt::controls

#endif  // VKT_CONTROLS_VKTPICTURE_H_
