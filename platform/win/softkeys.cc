#include "win/softkeys.h"

#include "win/winconst.h"

CAxControl::~CAxControl() = default;

int32_t CAxControl::GetLongProperty(DISPID id, int32_t fallback) {
  VARIANT v;
  if (!GetProperty(id, &v)) return fallback;
  if (v.vt == VT_I4) return v.lVal;
  if (v.vt == VT_BOOL) return v.boolVal != 0 ? 1 : 0;
  return fallback;
}

CmfSoftkeysCtrl::~CmfSoftkeysCtrl() = default;

BOOL CmfSoftkeysCtrl::Create(const CRect& rect) {
  return CWnd::Create("mfSoftkeys", "Tastiera", WS_POPUP | WS_BORDER, rect, nullptr, 0);
}

bool CmfSoftkeysCtrl::Invoke(DISPID id, WORD flags, const VARIANT*, VARIANT* result) {
  switch (id) {
    case kSoftkeysShow:
      if (!(flags & DISPATCH_METHOD)) return false;
      shown_ = true;
      ++shows_;
      if (m_hWnd) ShowWindow(SW_SHOW);
      return true;
    case kSoftkeysHide:
      if (!(flags & DISPATCH_METHOD)) return false;
      shown_ = false;
      ++hides_;
      if (m_hWnd) ShowWindow(SW_HIDE);
      return true;
    case kSoftkeysShown:
      if (!(flags & DISPATCH_PROPERTYGET) || !result) return false;
      *result = MakeVariant(static_cast<int32_t>(shown_ ? 1 : 0));
      return true;
    default:
      return false;
  }
}

void CmfSoftkeysCtrl::OnPaint() {
  CPaintDC dc(this);
  CRect rc;
  GetClientRect(&rc);
  dc.FillSolidRect(rc, RGB(60, 60, 60));
  // A plain key layout: three rows of letters.
  const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  int key = rc.Width() / 11;
  dc.SetBkMode(TRANSPARENT);
  dc.SetTextColor(RGB(255, 255, 255));
  for (int r = 0; r < 3; ++r)
    for (int i = 0; rows[r][i]; ++i) {
      CRect k(4 + r * key / 2 + i * key, 4 + r * (key + 4), 4 + r * key / 2 + i * key + key - 4,
              4 + r * (key + 4) + key);
      dc.FillSolidRect(k, RGB(110, 110, 110));
      dc.DrawText(std::string(1, rows[r][i]), k, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
}
