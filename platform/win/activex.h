// ActiveX controls of the window model: a window whose members are reached
// by automation dispatch ids, as the framework's control wrappers reach
// them (InvokeHelper, GetProperty, SetProperty). The host's on-screen
// keyboard (softkeys.h) and the spreadsheet grid (spreadsheet.h) are such
// controls.
//
//   VARIANT v;
//   if (grid.GetProperty(3, &v)) row = v.lVal;       // the active row
//   grid.SetProperty(110, MakeVariant(int32_t{2}));
#ifndef VKT_WIN_ACTIVEX_H_
#define VKT_WIN_ACTIVEX_H_

#include <cstdint>
#include <string>

#include "vkt_export.h"
#include "win/window.h"

using DISPID = int32_t;
using VARTYPE = uint16_t;
constexpr VARTYPE VT_EMPTY = 0;
constexpr VARTYPE VT_I4 = 3;
constexpr VARTYPE VT_BSTR = 8;
constexpr VARTYPE VT_BOOL = 11;
constexpr int16_t VARIANT_TRUE = -1;
constexpr int16_t VARIANT_FALSE = 0;

constexpr WORD DISPATCH_METHOD = 0x1;
constexpr WORD DISPATCH_PROPERTYGET = 0x2;
constexpr WORD DISPATCH_PROPERTYPUT = 0x4;

// An automation value: empty, a 4-byte integer, a boolean or a text.
struct VARIANT {
  VARTYPE vt = VT_EMPTY;
  int32_t lVal = 0;
  int16_t boolVal = VARIANT_FALSE;
  std::string bstrVal;
  friend bool operator==(const VARIANT&, const VARIANT&) = default;
};

inline VARIANT MakeVariant(int32_t v) {
  VARIANT r;
  r.vt = VT_I4;
  r.lVal = v;
  return r;
}
inline VARIANT MakeVariant(bool v) {
  VARIANT r;
  r.vt = VT_BOOL;
  r.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
  return r;
}

class VKT_API CAxControl : public CWnd {
 public:
  ~CAxControl() override;

  // Runs member `id` as a method, a property get or a property put (`arg`
  // the new value). False for a member the control does not have or a value
  // of the wrong type. Never throws.
  virtual bool Invoke(DISPID id, WORD flags, const VARIANT* arg, VARIANT* result) = 0;

  bool InvokeMethod(DISPID id) { return Invoke(id, DISPATCH_METHOD, nullptr, nullptr); }
  bool GetProperty(DISPID id, VARIANT* value) {
    return Invoke(id, DISPATCH_PROPERTYGET, nullptr, value);
  }
  bool SetProperty(DISPID id, const VARIANT& value) {
    return Invoke(id, DISPATCH_PROPERTYPUT, &value, nullptr);
  }
  // A 4-byte integer property; `fallback` when it cannot be read.
  int32_t GetLongProperty(DISPID id, int32_t fallback = 0);
};

#endif  // VKT_WIN_ACTIVEX_H_
