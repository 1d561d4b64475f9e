// The progress bar control ("msctls_progress32") and its wrapper: a range,
// a position kept inside it, a step, and a bar painted up to the position.
//
//   CProgressCtrl bar;
//   bar.Create(WS_CHILD | WS_VISIBLE, CRect(10, 40, 300, 56), &dlg, 6910);
//   bar.SetRange32(0, 120000);
//   bar.SetStep(1000);
//   bar.StepIt();                  // past the upper end it starts again
#ifndef VKT_WIN_PROGRESS_H_
#define VKT_WIN_PROGRESS_H_

#include "vkt_export.h"
#include "win/window.h"

constexpr UINT PBM_SETRANGE = WM_USER + 1;    // lParam: MAKELPARAM(lower, upper), 16 bits
constexpr UINT PBM_SETPOS = WM_USER + 2;      // returns the previous position
constexpr UINT PBM_DELTAPOS = WM_USER + 3;    // returns the previous position
constexpr UINT PBM_SETSTEP = WM_USER + 4;     // returns the previous step
constexpr UINT PBM_STEPIT = WM_USER + 5;      // returns the previous position
constexpr UINT PBM_SETRANGE32 = WM_USER + 6;  // wParam lower, lParam upper
constexpr UINT PBM_GETRANGE = WM_USER + 7;    // wParam TRUE: lower, FALSE: upper
constexpr UINT PBM_GETPOS = WM_USER + 8;

namespace vkt::win {
// Registers the control's window class (idempotent).
VKT_API void RegisterProgressClass();
}  // namespace vkt::win

class VKT_API CProgressCtrl : public CWnd {
 public:
  BOOL Create(DWORD style, const CRect& rect, CWnd* parent, UINT id);
  void SetRange(short lower, short upper);
  void SetRange32(int lower, int upper);
  void GetRange(int& lower, int& upper) const;
  int GetPos() const;
  int SetPos(int pos);
  int OffsetPos(int delta);
  int SetStep(int step);
  int StepIt();
};

#endif  // VKT_WIN_PROGRESS_H_
