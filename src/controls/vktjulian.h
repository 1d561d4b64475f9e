// The date field, the date value with month and week arithmetic, and a
// calendar that closes on Escape.
//
// The field always shows the pattern "__/__/____" (day, month, year) and
// is overwritten digit by digit, the caret jumping over the "/"; impossible
// first digits of day and month are refused. On leaving, the date is
// completed: a missing month and year from today, two-digit years (00-40
// are 2000-2040, 41-99 are 1941-1999), days past the month's end cut to it
// (31/04 is 30/04), nothing before 1 March 1700. Dates are read by the
// field's own dd/mm/yyyy rule, whatever the user's locale.
//
//   m_data.SubclassDlgItem(IDC_DATA, this);
//   m_data.SetJulian(Now(0));
//   long day = m_data.GetJulian();          // 0 for an empty field
#ifndef VKT_CONTROLS_VKTJULIAN_H_
#define VKT_CONTROLS_VKTJULIAN_H_

#include <cstdint>

#include "controls/vkteditbase.h"
#include "controls/xtp.h"
#include "vkt_export.h"
#include "win/oledatetime.h"

inline constexpr const char* kVktEmptyDate = "__/__/____";

class VKT_API CVKTJulian : public CVKTEditCtrlBase {
 public:
  CVKTJulian();
  ~CVKTJulian() override;

  void SetJulian(int32_t day);
  // The text read as a date: its day number, 0 when it is not a valid date.
  int32_t GetJulian();
  void SetDateTime(COleDateTime& date);
  COleDateTime GetDateTime();
  int GetYear();
  int GetMonth();
  int GetDay();
  // dd/mm/yyyy (also d/m/yy; "." or "-" between the parts); the status is
  // invalid for anything else or for a day that does not exist.
  static COleDateTime ReadOleDateTime(const char* text);
  static void FormatOleDateTime(CString& out, COleDateTime date);
  void SetLeftPopup(bool left) { left_popup_ = left; }

  void PreSubclassWindow() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
  BOOL OnReflectedCommand(UINT code) override;

  // The completion made when the field is left (public for hosts that
  // validate before saving).
  void FillBlankPos();
  static int IsLeapYear(int year);
  // Opens the calendar below the field (a double-click does it).
  void OpenCalendar();

 private:
  bool IsValidChar(int pos, char c) const;
  void InsertChar(int pos, char c);
  int GetCaretPos() const;
  void SetCaretPos(int pos);
  void IncCaretPos(int pos);
  void DecCaretPos(int pos);
  void DeleteSelectedChars(int from, int to);
  void DeleteChar(int pos);
  std::string Text10() const;
  void PutText(const std::string& text);
  void TypeDigit(char c);
  void Backspace();
  void Delete();
  void Paste();

  int32_t julian_ = 0;
  bool left_popup_ = false;
};

class VKT_API CVKTDateTime : public COleDateTime {
 public:
  CVKTDateTime();
  explicit CVKTDateTime(int32_t day);
  explicit CVKTDateTime(const COleDateTime& date);
  CVKTDateTime(const CVKTDateTime& other) = default;
  CVKTDateTime& operator=(const CVKTDateTime& other) = default;
  virtual ~CVKTDateTime();

  COleDateTime FirstDayOfTheMonth() const;
  COleDateTime LastDayOfTheMonth() const;
  COleDateTime FirstDayOfTheWeek() const;
  COleDateTime LastDayOfTheWeek() const;
  // Whole months forward keeping the anchor day (31 January, one month:
  // the last of February; two months: 31 March). A value that cannot be
  // moved (invalid, or past the year 9999) becomes invalid.
  void NextDeadline(int months);
  int32_t GetJulian() const;
  int anchor_day() const { return anchor_day_; }

 private:
  int anchor_day_ = 0;
};

class VKT_API CVKTDatePickerControl : public CXTPDatePickerControl {
 public:
  CVKTDatePickerControl();
  ~CVKTDatePickerControl() override;
  // Escape destroys the calendar.
  BOOL PreTranslateMessage(MSG* msg) override;
};

#endif  // VKT_CONTROLS_VKTJULIAN_H_
