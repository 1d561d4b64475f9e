#include "win/progress.h"

#include <algorithm>

#include "win/detail/wndstate.h"

namespace vkt::win {
namespace {

struct ProgressData : detail::ClassData {
  int lower = 0;
  int upper = 100;
  int pos = 0;
  int step = 10;
};

int Clamp(const ProgressData& d, int64_t pos) {
  int64_t lo = std::min(d.lower, d.upper), hi = std::max(d.lower, d.upper);
  return static_cast<int>(std::clamp<int64_t>(pos, lo, hi));
}

LRESULT ProgressClassProc(HWND h, UINT msg, WPARAM w, LPARAM l) {
  detail::WindowState* s = detail::Find(h);
  if (!s) return 0;
  ProgressData* d = detail::Data<ProgressData>(h);
  switch (msg) {
    case PBM_SETRANGE: {
      LRESULT old = MAKELONG(static_cast<WORD>(d->lower), static_cast<WORD>(d->upper));
      d->lower = static_cast<int16_t>(LOWORD(static_cast<uintptr_t>(l)));
      d->upper = static_cast<int16_t>(HIWORD(static_cast<uintptr_t>(l)));
      d->pos = Clamp(*d, d->pos);
      ++s->invalidations;
      return old;
    }
    case PBM_SETRANGE32: {
      LRESULT old = MAKELONG(static_cast<WORD>(d->lower), static_cast<WORD>(d->upper));
      d->lower = static_cast<int>(static_cast<int32_t>(w));
      d->upper = static_cast<int>(static_cast<int32_t>(l));
      d->pos = Clamp(*d, d->pos);
      ++s->invalidations;
      return old;
    }
    case PBM_GETRANGE:
      return w ? d->lower : d->upper;
    case PBM_GETPOS:
      return d->pos;
    case PBM_SETPOS: {
      int old = d->pos;
      d->pos = Clamp(*d, static_cast<int32_t>(w));
      ++s->invalidations;
      return old;
    }
    case PBM_DELTAPOS: {
      int old = d->pos;
      d->pos = Clamp(*d, static_cast<int64_t>(old) + static_cast<int32_t>(w));
      ++s->invalidations;
      return old;
    }
    case PBM_SETSTEP: {
      int old = d->step;
      d->step = static_cast<int>(static_cast<int32_t>(w));
      return old;
    }
    case PBM_STEPIT: {
      int old = d->pos;
      int64_t next = static_cast<int64_t>(old) + d->step;
      // As the system control: past the upper end the bar starts again.
      if (next > d->upper) next = d->lower + (next - d->upper);
      if (next < d->lower) next = d->upper - (d->lower - next);
      d->pos = Clamp(*d, next);
      ++s->invalidations;
      return old;
    }
    case WM_PAINT: {
      cairo_t* cr = detail::PaintTarget(h);
      if (!cr) return 0;
      CDC dc(cr);
      CRect rc(0, 0, s->rect.Width(), s->rect.Height());
      dc.FillSolidRect(rc, RGB(230, 230, 230));
      dc.FrameRect(rc, RGB(188, 188, 188));
      int64_t span = static_cast<int64_t>(d->upper) - d->lower;
      if (span > 0) {
        int64_t fill = (static_cast<int64_t>(d->pos) - d->lower) * (rc.Width() - 2) / span;
        if (fill > 0)
          dc.FillSolidRect(CRect(1, 1, 1 + static_cast<int>(fill), rc.bottom - 1), RGB(6, 176, 37));
      }
      return 0;
    }
    default:
      return DefaultClassProc(h, msg, w, l);
  }
}

}  // namespace

void RegisterProgressClass() { RegisterWindowClass("msctls_progress32", &ProgressClassProc); }

}  // namespace vkt::win

BOOL CProgressCtrl::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  vkt::win::RegisterProgressClass();
  return CWnd::Create("msctls_progress32", "", style, rect, parent, id);
}

void CProgressCtrl::SetRange(short lower, short upper) {
  SendMessage(PBM_SETRANGE, 0, MAKELPARAM(static_cast<WORD>(lower), static_cast<WORD>(upper)));
}

void CProgressCtrl::SetRange32(int lower, int upper) {
  SendMessage(PBM_SETRANGE32, static_cast<WPARAM>(static_cast<uint32_t>(lower)),
              static_cast<LPARAM>(upper));
}

void CProgressCtrl::GetRange(int& lower, int& upper) const {
  lower = static_cast<int>(::SendMessage(m_hWnd, PBM_GETRANGE, TRUE, 0));
  upper = static_cast<int>(::SendMessage(m_hWnd, PBM_GETRANGE, FALSE, 0));
}

int CProgressCtrl::GetPos() const { return static_cast<int>(::SendMessage(m_hWnd, PBM_GETPOS, 0, 0)); }

int CProgressCtrl::SetPos(int pos) {
  return static_cast<int>(SendMessage(PBM_SETPOS, static_cast<WPARAM>(static_cast<uint32_t>(pos)), 0));
}

int CProgressCtrl::OffsetPos(int delta) {
  return static_cast<int>(SendMessage(PBM_DELTAPOS, static_cast<WPARAM>(static_cast<uint32_t>(delta)), 0));
}

int CProgressCtrl::SetStep(int step) {
  return static_cast<int>(SendMessage(PBM_SETSTEP, static_cast<WPARAM>(static_cast<uint32_t>(step)), 0));
}

int CProgressCtrl::StepIt() { return static_cast<int>(SendMessage(PBM_STEPIT, 0, 0)); }
