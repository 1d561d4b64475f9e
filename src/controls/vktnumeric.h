// The numeric field: a double with fixed decimals and a range, shown in
// Italian form when not focused (right-aligned, "." between thousands, ","
// before the decimals) and edited digit by digit while focused, every key
// tried on a copy of the text first.
//
//   CVKTCurrency2 m_importo;              // 2 decimals, separators
//   m_importo.SubclassDlgItem(IDC_IMPORTO, this);
//   m_importo.SetValue(-1234567.5);       // shows "-1.234.567,50"
//   double v = m_importo.GetValue();
//
// The field's separators are its own: reading and printing never depend on
// the process locale. While typing, a value is refused when it would pass
// the maximum (positive values) or the minimum (negative ones); a value
// between zero and a positive minimum can be typed on the way to a valid one.
#ifndef VKT_CONTROLS_VKTNUMERIC_H_
#define VKT_CONTROLS_VKTNUMERIC_H_

#include <cstdint>

#include "controls/vkteditbase.h"
#include "vkt_export.h"

class VKT_API CVKTNumeric : public CVKTEditCtrlBase {
 public:
  CVKTNumeric();
  CVKTNumeric(short decimals, bool separator, bool remove_non_sig_digits, double minimum,
              double maximum);
  ~CVKTNumeric() override;

  void SetValue(double v);
  void SetValueReal(double v) { SetValue(v); }
  void SetValueInteger(int64_t v);
  double GetValue();
  double GetValueReal() { return GetValue(); }
  // Truncated toward zero (clamped to the 64-bit range).
  int64_t GetValueInteger();

  void SetDecimalPlaces(short d) { decimals_ = d; }
  short GetDecimalPlaces() const { return decimals_; }
  void SetSeparator(bool on) { separator_ = on; }
  bool IsSeparator() const { return separator_; }
  void SetRemoveNonSigDigits(bool on) { remove_non_sig_ = on; }
  bool IsRemoveNonSigDigits() const { return remove_non_sig_; }
  void SetValueMin(double v) { min_ = v; }
  void SetValueMax(double v) { max_ = v; }
  double GetValueMin() const { return min_; }
  double GetValueMax() const { return max_; }
  void SetRange(double minimum, double maximum) { min_ = minimum, max_ = maximum; }
  void GetRange(double* minimum, double* maximum) const;

  // Sets the text and reads the value back; no formatting.
  void SetText(const char* text);
  CString GetText();
  // Format(), then the text trimmed into the zero-filled buffer, at most
  // size - 1 characters.
  void GetText(char* buffer, int size);

  BOOL PreTranslateMessage(MSG* msg) override;
  // A paste (keyboard, menu or program) goes in only as a number typing
  // could give: digits, one "," when there are decimals, a leading "-"
  // when negatives are allowed, within the maximum; "." and blanks are
  // dropped. Anything else pastes nothing.
  LRESULT DefWindowProc(UINT msg, WPARAM w, LPARAM l) override;
  void PreSubclassWindow() override;
  void OnSetFocus(CWnd* old_wnd) override;
  void OnKillFocus(CWnd* new_wnd) override;

  // The display form of `v` with the field's settings.
  CString DisplayForm(double v) const;
  // Reads a field text: "." dropped, "," as the decimal point; the longest
  // number at the start counts, nothing readable is 0.
  static double ParseNumber(const std::string& text);

  // Key codes IsValidChar takes for the two deleting keys.
  static constexpr char kBackspace = 8;
  static constexpr char kDelete = 0x7F;

 protected:
  void Format();
  bool IsValidChar(char c);
  void UpdateValue();
  void SetWindowText(const char* text);
  void RemoveSelectedChars();
  void CaretMoveLast();
  // The range check made while typing.
  bool AcceptableWhileTyping(double v) const;

 private:
  void HandleChar(char c);
  void Paste();
  void HandleDelete(bool backspace);

  short decimals_ = 2;
  bool separator_ = true;
  double value_ = 0.0;
  double max_ = 999999999999.0;
  double min_ = -999999999999.0;
  bool remove_non_sig_ = false;
};

#define VKT_NUMERIC_PRESET(name, dec, sep, rem, lo, hi)          \
  class VKT_API name : public CVKTNumeric {                        \
   public:                                                         \
    name() : CVKTNumeric(dec, sep, rem, lo, hi) {}                 \
  };

VKT_NUMERIC_PRESET(CVKTCurrency2, 2, true, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTCurrency3, 3, true, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTCurrency4, 4, true, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTCurrency5, 5, true, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTUCurrency2, 2, true, false, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTUCurrency3, 3, true, false, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTUCurrency4, 4, true, false, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTUCurrency5, 5, true, false, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTDouble0, 0, false, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTDouble1, 1, false, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTDouble2, 2, false, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTDouble3, 3, false, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTDouble4, 4, false, false, -999999999999.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTUDouble2, 2, false, false, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTUDouble3, 3, false, false, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTUDouble4, 4, false, false, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTPercent1, 1, false, false, -100.0, 100.0)
VKT_NUMERIC_PRESET(CVKTPercent2, 2, false, false, -100.0, 100.0)
VKT_NUMERIC_PRESET(CVKTPercent3, 3, false, false, -100.0, 100.0)
VKT_NUMERIC_PRESET(CVKTPercent4, 4, false, false, -100.0, 100.0)
VKT_NUMERIC_PRESET(CVKTPercent5, 5, false, false, -100.0, 100.0)
VKT_NUMERIC_PRESET(CVKTUPercent1, 1, false, false, 0.0, 100.0)
VKT_NUMERIC_PRESET(CVKTUPercent2, 2, false, false, 0.0, 100.0)
VKT_NUMERIC_PRESET(CVKTUPercent3, 3, false, false, 0.0, 100.0)
VKT_NUMERIC_PRESET(CVKTUQuantity3, 3, false, true, 0.0, 999999999999.0)
VKT_NUMERIC_PRESET(CVKTLong, 0, false, false, -2147483648.0, 2147483647.0)
VKT_NUMERIC_PRESET(CVKTULong, 0, false, false, 0.0, 4294967295.0)
VKT_NUMERIC_PRESET(CVKTShort, 0, false, false, -32768.0, 32767.0)
VKT_NUMERIC_PRESET(CVKTUShort, 0, false, false, 0.0, 65535.0)

#undef VKT_NUMERIC_PRESET

#endif  // VKT_CONTROLS_VKTNUMERIC_H_
