// Export macro of the VKTDlg shared library.
//
// Everything is compiled with hidden visibility; a name a host may call is
// marked VKT_API and so becomes part of the library's interface.
#ifndef VKT_EXPORT_H_
#define VKT_EXPORT_H_

#define VKT_API __attribute__((visibility("default")))

#endif  // VKT_EXPORT_H_
