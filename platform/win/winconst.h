// Win32 constants the library and its hosts pass around by number.
//
// Hosts were written against the Windows headers; the values below keep the
// same numbers so that stored settings, message-box answers and key codes
// mean the same thing on Linux.
#ifndef VKT_WIN_WINCONST_H_
#define VKT_WIN_WINCONST_H_

#include <cstdint>

// Message box button sets, icons and default buttons.
constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_OKCANCEL = 0x0001;
constexpr unsigned MB_ABORTRETRYIGNORE = 0x0002;
constexpr unsigned MB_YESNOCANCEL = 0x0003;
constexpr unsigned MB_YESNO = 0x0004;
constexpr unsigned MB_RETRYCANCEL = 0x0005;
constexpr unsigned MB_TYPEMASK = 0x000F;
constexpr unsigned MB_ICONHAND = 0x0010;
constexpr unsigned MB_ICONSTOP = MB_ICONHAND;
constexpr unsigned MB_ICONERROR = MB_ICONHAND;
constexpr unsigned MB_ICONQUESTION = 0x0020;
constexpr unsigned MB_ICONEXCLAMATION = 0x0030;
constexpr unsigned MB_ICONWARNING = MB_ICONEXCLAMATION;
constexpr unsigned MB_ICONASTERISK = 0x0040;
constexpr unsigned MB_ICONINFORMATION = MB_ICONASTERISK;
constexpr unsigned MB_ICONMASK = 0x00F0;
constexpr unsigned MB_DEFBUTTON1 = 0x0000;
constexpr unsigned MB_DEFBUTTON2 = 0x0100;
constexpr unsigned MB_DEFBUTTON3 = 0x0200;
constexpr unsigned MB_DEFMASK = 0x0F00;

// Message box answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDABORT = 3;
constexpr int IDRETRY = 4;
constexpr int IDIGNORE = 5;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Show modes for ShellExecute.
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOWNOACTIVATE = 4;

namespace vkt::win {

// The buttons of a message box type, in the order Windows shows them.
// The first is the affirmative answer a silent library takes.
int ButtonCount(unsigned type);
int ButtonAt(unsigned type, int index);
// The answer the box gives when the user just presses Enter.
int DefaultAnswer(unsigned type);
// The affirmative answer of a question (Yes, OK, Retry, Abort).
int AffirmativeAnswer(unsigned type);

}  // namespace vkt::win

#endif  // VKT_WIN_WINCONST_H_
