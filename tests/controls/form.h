// A dialog form for the field tests: fields 1001-1008 (edits), a combo box
// 1010 and OK/Annulla, shown modeless; each test attaches the controls it
// needs and drives them with the driver.
#ifndef VKT_TESTS_CONTROLS_FORM_H_
#define VKT_TESTS_CONTROLS_FORM_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/dialog.h"
#include "win/driver.h"
#include "win/services.h"
#include "win/winconst.h"

namespace vkt::test {

inline vkt::win::DialogTemplate FormTemplate() {
  vkt::win::DialogTemplate t;
  t.caption = "Prova campi";
  t.rect = CRect(50, 50, 430, 320);
  t.style |= WS_VISIBLE;
  const DWORD field = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
  for (int i = 0; i < 8; ++i)
    t.items.push_back({"Edit", "", static_cast<UINT>(1001 + i), field,
                       CRect(130, 8 + i * 26, 360, 30 + i * 26)});
  t.items.push_back({"ComboBox", "", 1010, WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST,
                     CRect(130, 8 + 8 * 26, 360, 30 + 8 * 26)});
  t.items.push_back({"Button", "OK", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON,
                     CRect(190, 243, 270, 266)});
  t.items.push_back({"Button", "Annulla", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP,
                     CRect(280, 243, 360, 266)});
  return t;
}

// Records the notifications and commands the dialog receives.
class FormDialog : public CDialog {
 public:
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* info) override {
    log.push_back({id, code});
    return CDialog::OnCmdMsg(id, code, extra, info);
  }
  int Count(UINT id, int code) const {
    int n = 0;
    for (auto& [i, c] : log)
      if (i == id && c == code) ++n;
    return n;
  }
  std::vector<std::pair<UINT, int>> log;
};

class FormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkt::win::ResetWindows();
    // 15 March 2025, 12:00 UTC: "today" for the date fields.
    fake_.SetNow(INT64_C(1742040000) * 1000000);
    ASSERT_TRUE(dlg_.CreateIndirect(FormTemplate()));
    // No field has the focus yet: the controls are attached after.
    ::SetFocus(nullptr);
  }
  void TearDown() override { vkt::win::ResetWindows(); }

  CWnd* Item(int id) { return dlg_.GetDlgItem(id); }
  template <class T>
  void Attach(T& control, int id) {
    ASSERT_TRUE(control.SubclassDlgItem(static_cast<UINT>(id), &dlg_));
  }
  std::string Text(CWnd& w) { return w.GetWindowTextString().str(); }

  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  FormDialog dlg_;
  vkt::win::Driver ui_;
};

}  // namespace vkt::test

#endif  // VKT_TESTS_CONTROLS_FORM_H_
