#include "win/appwnd.h"

namespace {
HWND g_main = nullptr;
}  // namespace

CWnd* AfxGetMainWnd() { return IsWindow(g_main) ? CWnd::FromHandle(g_main) : nullptr; }
void AfxSetMainWnd(CWnd* wnd) { g_main = wnd ? wnd->m_hWnd : nullptr; }
