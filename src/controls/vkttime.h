// The time field ("__:__:__", centred) and the keyed combo box of the
// dialogs.
//
//   m_ora.SubclassDlgItem(IDC_ORA, this);
//   m_ora.SetLong(30600);              // "08:30:00"; 0 shows "__:__:__"
//   long t = m_ora.GetLong();          // seconds since midnight
//
//   m_tipo.SubclassDlgItem(IDC_TIPO, this);
//   m_tipo.AddItem("Cliente", 1);
//   m_tipo.SetLong(1);                 // the dialog gets CBN_SELCHANGE
#ifndef VKT_CONTROLS_VKTTIME_H_
#define VKT_CONTROLS_VKTTIME_H_

#include <cstdint>

#include "controls/vkteditbase.h"
#include "controls/xtp.h"
#include "vkt_export.h"
#include "win/oledatetime.h"

class VKT_API CVKTTime : public CVKTEditCtrlBase {
 public:
  CVKTTime();
  ~CVKTTime() override;

  virtual void SetHours(int h);
  virtual void SetMinutes(int m);
  virtual void SetSeconds(int s);
  virtual void SetTime(int h, int m, int s);
  virtual void FormatOleDateTime(CString& out, COleDateTime t);
  int GetHours() const { return hours_; }
  int GetMinutes() const { return minutes_; }
  int GetSeconds() const { return seconds_; }
  // Below 0 counts as 0 and 100 hours or more as 99:59:59, so the text
  // never outgrows the mask; up to 99:59:59 nothing wraps (90000 is
  // "25:00:00").
  void SetLong(int32_t t);
  int32_t GetLong();
  void SetMilitary(int b) { military_ = b; }
  int GetMilitary() const { return military_; }
  void SetShowSeconds(int b);
  int GetShowSeconds() const { return show_seconds_; }

  BOOL ProcessMask(char& c, int pos) override;
  void PreSubclassWindow() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  HBRUSH CtlColor(CDC* dc, UINT ctl_color) override;
  void OnSetFocus(CWnd* old_wnd) override;
  void OnKillFocus(CWnd* new_wnd) override;

 protected:
  void UpdateValue();
  void FillBlankPos();

 private:
  void Display();
  int hours_ = 0;
  int minutes_ = 0;
  int seconds_ = 0;
  int military_ = 1;
  int show_seconds_ = 1;
  CBrush time_brush_;
  COLORREF time_text_ = 0;
  COLORREF time_back_ = 0xFFFFFF;
};

class VKT_API CVKTComboBox : public CXTPComboBox {
 public:
  CVKTComboBox();
  ~CVKTComboBox() override;

  // The entry's index, or the list's negative error unchanged.
  int AddItem(const char* text, int32_t key);
  int FindItem(int32_t key) const;
  int32_t GetCurItem() const;
  int SetCurItem(int32_t key);
  int32_t GetLong() const;
  // Selects the entry with `key` and tells the dialog as a user's choice
  // would (CBN_SELCHANGE); no entry selected and nothing sent otherwise.
  void SetLong(int32_t key);
  CString GetText() const;
  void ClearSel();
  void SetEnabled(int b);
  int GetEnabled() const { return IsWindowEnabled() ? 1 : 0; }

  void PreSubclassWindow() override;
  BOOL PreTranslateMessage(MSG* msg) override;

 private:
  CString unused_text_;
  int unused_value_ = 0;
};

#endif  // VKT_CONTROLS_VKTTIME_H_
