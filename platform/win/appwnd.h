// The application's main window (the framework's AfxGetMainWnd): the host
// names it; dialogs place themselves beside it. Kept by handle, so a main
// window that went away reads as none.
#ifndef VKT_WIN_APPWND_H_
#define VKT_WIN_APPWND_H_

#include "vkt_export.h"
#include "win/window.h"

// Null when there is none (or it was destroyed).
VKT_API CWnd* AfxGetMainWnd();
VKT_API void AfxSetMainWnd(CWnd* wnd);

#endif  // VKT_WIN_APPWND_H_
