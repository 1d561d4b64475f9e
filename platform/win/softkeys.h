// The on-screen keyboard the host supplies (its ActiveX control
// CmfSoftkeysCtrl): one shared control that dialogs show and hide through
// three automation members.
//
//   CmfSoftkeysCtrl keyboard;
//   keyboard.Create(CRect(0, 600, 800, 800));
//   vktpar->keyboard = &keyboard;
//   keyboard.InvokeMethod(kSoftkeysShow);
#ifndef VKT_WIN_SOFTKEYS_H_
#define VKT_WIN_SOFTKEYS_H_

#include "vkt_export.h"
#include "win/activex.h"

// The keyboard's members.
constexpr DISPID kSoftkeysShow = 20;   // method
constexpr DISPID kSoftkeysHide = 16;   // method
constexpr DISPID kSoftkeysShown = 21;  // property get, 4-byte integer

class VKT_API CmfSoftkeysCtrl : public CAxControl {
 public:
  ~CmfSoftkeysCtrl() override;

  // A top-level tool window, hidden until shown. The keyboard also works
  // without a window: then only its shown state changes.
  BOOL Create(const CRect& rect);
  bool Invoke(DISPID id, WORD flags, const VARIANT* arg, VARIANT* result) override;

  bool shown() const { return shown_; }
  int show_calls() const { return shows_; }
  int hide_calls() const { return hides_; }

  void OnPaint() override;

 private:
  bool shown_ = false;
  int shows_ = 0;
  int hides_ = 0;
};

#endif  // VKT_WIN_SOFTKEYS_H_
