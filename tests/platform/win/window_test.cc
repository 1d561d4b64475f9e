// The window model: message order, focus, keys, dialog navigation, timers,
// modal loops and the stock controls, driven as a user would.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "win/dialog.h"
#include "win/driver.h"
#include "win/services.h"
#include "win/stdctrls.h"
#include "win/window.h"
#include "win/winconst.h"

namespace {

using vkt::win::DialogItem;
using vkt::win::DialogTemplate;
using vkt::win::Driver;

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override { vkt::win::ResetWindows(); }
  void TearDown() override {
    vkt::win::ResetWindows();
    vkt::win::ClearDialogTemplates();
  }
  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
};

// A window that writes down what reaches it.
class Recorder : public CWnd {
 public:
  explicit Recorder(std::vector<std::string>* log, std::string name)
      : log_(log), name_(std::move(name)) {}
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_APP) log_->push_back(name_ + ":app" + std::to_string(w));
    return CWnd::WindowProc(msg, w, l);
  }
  void OnSetFocus(CWnd* old) override {
    log_->push_back(name_ + ":set(" + Name(old) + ")");
    CWnd::OnSetFocus(old);
  }
  void OnKillFocus(CWnd* next) override {
    log_->push_back(name_ + ":kill(" + Name(next) + ")");
    CWnd::OnKillFocus(next);
  }
  void OnChar(UINT ch, UINT, UINT) override { log_->push_back(name_ + ":char" + std::string(1, static_cast<char>(ch))); }
  void OnKeyDown(UINT vk, UINT, UINT) override { log_->push_back(name_ + ":down" + std::to_string(vk)); }
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_KEYDOWN) {
      log_->push_back(name_ + ":pre" + std::to_string(msg->wParam));
      if (msg->wParam == consume_) return TRUE;
    }
    return FALSE;
  }
  void OnTimer(uintptr_t id) override { log_->push_back(name_ + ":timer" + std::to_string(id)); }
  UINT consume_ = 0;

 private:
  std::string Name(CWnd* w) {
    if (!w) return "-";
    auto* r = dynamic_cast<Recorder*>(w);
    return r ? r->name_ : "?";
  }
  std::vector<std::string>* log_;
  std::string name_;
};

TEST_F(WindowTest, SendRunsAtOnceWhilePostWaitsForTheLoop) {
  std::vector<std::string> log;
  Recorder top(&log, "top");
  ASSERT_TRUE(top.Create("Frame", "Mirto", WS_POPUP | WS_VISIBLE, CRect(0, 0, 200, 100), nullptr, 0));
  top.SendMessage(WM_APP, 1);
  top.PostMessage(WM_APP, 2);
  top.PostMessage(WM_APP, 3);
  EXPECT_EQ(log, std::vector<std::string>{"top:app1"});
  EXPECT_EQ(vkt::win::QueuedMessages(), 2u);
  EXPECT_EQ(vkt::win::RunPosted(), 2);
  EXPECT_EQ(log, (std::vector<std::string>{"top:app1", "top:app2", "top:app3"}));
  // A message posted to a window destroyed meanwhile is dropped.
  top.PostMessage(WM_APP, 4);
  HWND h = top.m_hWnd;
  top.DestroyWindow();
  EXPECT_FALSE(IsWindow(h));
  vkt::win::RunPosted();
  EXPECT_EQ(log.size(), 3u);
  EXPECT_EQ(::SendMessage(h, WM_APP, 5, 0), 0);
  EXPECT_FALSE(::PostMessage(h, WM_APP, 6, 0));
}

TEST_F(WindowTest, FocusChangeSendsKillFocusToTheOldThenSetFocusToTheNew) {
  std::vector<std::string> log;
  Recorder top(&log, "top"), a(&log, "a"), b(&log, "b");
  ASSERT_TRUE(top.Create("Frame", "", WS_POPUP | WS_VISIBLE, CRect(0, 0, 200, 100), nullptr, 0));
  ASSERT_TRUE(a.Create("Thing", "", WS_CHILD | WS_VISIBLE, CRect(0, 0, 10, 10), &top, 1));
  ASSERT_TRUE(b.Create("Thing", "", WS_CHILD | WS_VISIBLE, CRect(0, 20, 10, 30), &top, 2));
  Driver ui;
  ui.Focus(&a);
  ui.Focus(&b);
  ui.Focus(&b);  // no change, no messages
  EXPECT_EQ(log, (std::vector<std::string>{"a:set(-)", "a:kill(b)", "b:set(a)"}));
  EXPECT_EQ(CWnd::GetFocus(), &b);
  // A focused window that goes away takes the focus with it, quietly.
  log.clear();
  b.DestroyWindow();
  EXPECT_EQ(::GetFocus(), nullptr);
  EXPECT_TRUE(log.empty());
}

TEST_F(WindowTest, KeysGoChildFirstThroughPreTranslateThenBecomeCharacters) {
  std::vector<std::string> log;
  Recorder top(&log, "top"), field(&log, "field");
  ASSERT_TRUE(top.Create("Frame", "", WS_POPUP | WS_VISIBLE, CRect(0, 0, 200, 100), nullptr, 0));
  ASSERT_TRUE(field.Create("Thing", "", WS_CHILD | WS_VISIBLE, CRect(0, 0, 10, 10), &top, 1));
  Driver ui;
  ui.Focus(&field);
  log.clear();
  ui.Type("a");
  EXPECT_EQ(log, (std::vector<std::string>{"field:pre65", "top:pre65", "field:down65", "field:chara"}));
  log.clear();
  top.consume_ = VK_RETURN;  // the parent takes Enter: no key-down, no character
  ui.Press(VK_RETURN);
  EXPECT_EQ(log, (std::vector<std::string>{"field:pre13", "top:pre13"}));
  log.clear();
  ui.Press('V', vkt::win::kCtrl);  // Ctrl+V types the control character 22
  EXPECT_EQ(log.back(), std::string("field:char") + std::string(1, '\x16'));
  EXPECT_EQ(GetKeyState(VK_CONTROL), 0);
}

TEST_F(WindowTest, TimersFireFromTheVirtualClockUntilKilled) {
  std::vector<std::string> log;
  Recorder top(&log, "top");
  ASSERT_TRUE(top.Create("Frame", "", WS_POPUP | WS_VISIBLE, CRect(0, 0, 200, 100), nullptr, 0));
  Driver ui;
  top.SetTimer(7, 100);
  ui.Advance(50);
  EXPECT_TRUE(log.empty());
  ui.Advance(60);
  EXPECT_EQ(log, std::vector<std::string>{"top:timer7"});
  ui.RunPosted();  // not due again yet
  EXPECT_EQ(log.size(), 1u);
  ui.Advance(100);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_TRUE(top.KillTimer(7));
  ui.Advance(500);
  EXPECT_EQ(log.size(), 2u);
  EXPECT_FALSE(top.KillTimer(7));
}

DialogTemplate FormTemplate() {
  DialogTemplate t;
  t.caption = "Anagrafica";
  t.rect = CRect(100, 100, 400, 260);
  const DWORD field = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL;
  t.items = {
      {"Static", "Nome", 2000, WS_CHILD | WS_VISIBLE, CRect(10, 12, 60, 28)},
      {"Edit", "", 1001, field | WS_GROUP, CRect(70, 10, 250, 32)},
      {"Edit", "", 1002, field | WS_DISABLED, CRect(70, 40, 250, 62)},
      {"Edit", "", 1003, WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(70, 70, 250, 92)},
      {"Edit", "", 1004, field, CRect(70, 100, 250, 122)},
      {"Button", "OK", IDOK, WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_DEFPUSHBUTTON,
       CRect(120, 130, 200, 154)},
      {"Button", "Annulla", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP, CRect(210, 130, 290, 154)},
  };
  return t;
}

class FormDialog : public CDialog {
 public:
  FormDialog() { SetTemplate(FormTemplate()); }
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* info) override {
    if (code == EN_CHANGE) changes_.push_back(static_cast<int>(id));
    if (code == CN_COMMAND && id == IDOK) ok_pressed_ = true;
    return CDialog::OnCmdMsg(id, code, extra, info);
  }
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_KICKIDLE) ++idles_;
    return CDialog::WindowProc(msg, w, l);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    if (end_at_once_) EndDialog(IDABORT);
    return TRUE;
  }
  std::vector<int> changes_;
  bool ok_pressed_ = false;
  bool end_at_once_ = false;
  int idles_ = 0;
};

TEST_F(WindowTest, DialogNavigationFollowsTabStopsAndEnterPressesTheDefaultButton) {
  FormDialog dlg;
  Driver ui;
  std::vector<int> focus_seen;
  auto where = [&] { focus_seen.push_back(CWnd::GetFocus() ? CWnd::GetFocus()->GetDlgCtrlID() : -1); };
  ui.Then([&] {
    where();                 // first tab stop gets the focus
    ui.Press(VK_TAB);        // skips the disabled and the non-tab-stop field
    where();
    ui.Press(VK_TAB);
    where();                 // OK
    ui.Press(VK_TAB);
    where();                 // Annulla
    ui.Press(VK_TAB);
    where();                 // wraps round
    ui.Press(VK_TAB, vkt::win::kShift);
    where();                 // back to Annulla
    ui.Press(VK_TAB, vkt::win::kShift);
    ui.Press(VK_TAB, vkt::win::kShift);
    where();
    ui.Type("Rossi");
    ui.Press(VK_RETURN);     // in a field: the default button
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(focus_seen, (std::vector<int>{1001, 1004, IDOK, IDCANCEL, 1001, IDCANCEL, 1004}));
  EXPECT_TRUE(dlg.ok_pressed_);
  EXPECT_EQ(dlg.changes_.size(), 5u);  // one EN_CHANGE per typed letter
  EXPECT_EQ(ui.stalls(), 0);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

TEST_F(WindowTest, EscapeCancelsAndAModalLoopWithoutInputEndsCounted) {
  {
    FormDialog dlg;
    Driver ui;
    ui.Then([&] { ui.Press(VK_ESCAPE); });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(ui.stalls(), 0);
    EXPECT_GE(dlg.idles_, 1);  // idle ran before the user acted
  }
  {
    FormDialog dlg;
    Driver ui;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_EQ(ui.stalls(), 1);
  }
  {
    // EndDialog while initialising: the loop never runs, no step is used.
    FormDialog dlg;
    dlg.end_at_once_ = true;
    Driver ui;
    ui.Then([] {});
    EXPECT_EQ(dlg.DoModal(), IDABORT);
    EXPECT_EQ(ui.pending_steps(), 1u);
  }
}

TEST_F(WindowTest, NestedModalDialogsTakeTheNextStepsAndRestoreTheFocus) {
  FormDialog outer;
  Driver ui;
  intptr_t inner_result = 0;
  ui.Then([&] {
    ui.Type("x");
    FormDialog inner;
    inner_result = inner.DoModal();  // takes the next step below
    EXPECT_EQ(CWnd::GetFocus()->GetDlgCtrlID(), 1001);
    EXPECT_TRUE(outer.IsWindowEnabled());
    ui.Press(VK_ESCAPE);
  });
  ui.Then([&] {
    EXPECT_FALSE(outer.IsWindowEnabled());  // the owner waits
    ui.Press(VK_RETURN);
  });
  EXPECT_EQ(outer.DoModal(), IDCANCEL);
  EXPECT_EQ(inner_result, IDOK);
  EXPECT_EQ(ui.stalls(), 0);
}

TEST_F(WindowTest, EditFieldsLimitTypingAndSanitisePastedText) {
  FormDialog dlg;
  ASSERT_TRUE(dlg.CreateIndirect(FormTemplate()));
  CEdit edit_ctl;
  ASSERT_TRUE(edit_ctl.SubclassDlgItem(1001, &dlg));
  CEdit* edit = &edit_ctl;
  edit->SendMessage(EM_LIMITTEXT, 6, 0);
  Driver ui;
  ui.Focus(edit);
  ui.Type("perch\xE9 no");  // the accented letter is a letter; the limit stops at 6
  EXPECT_STREQ(edit->GetWindowTextString(), "perch\xE9");
  EXPECT_TRUE(edit->GetModify());
  ui.Press(VK_BACK);
  ui.Press(VK_HOME);
  ui.Press(VK_DELETE);
  EXPECT_STREQ(edit->GetWindowTextString(), "erch");
  fake_.SetClipboardText("a\tb\r\nc\x01" "defgh");
  edit->SetSel(0, -1);
  ui.Press('V', vkt::win::kCtrl);
  EXPECT_STREQ(edit->GetWindowTextString(), "abcdef");  // controls dropped, cut at the limit
  edit->SetSel(0, 3);
  ui.Press(VK_INSERT, vkt::win::kCtrl);
  std::string clip;
  ASSERT_TRUE(fake_.GetClipboardText(&clip));
  EXPECT_EQ(clip, "abc");
  // Text set by the program is not the user's: no modify flag.
  edit->SetWindowText("0123456789");
  EXPECT_FALSE(edit->GetModify());
  EXPECT_STREQ(edit->GetWindowTextString(), "0123456789");
}

TEST_F(WindowTest, ButtonsAndComboBoxesAnswerMouseAndKeyboard) {
  DialogTemplate t = FormTemplate();
  t.items.push_back({"ComboBox", "", 1010, WS_CHILD | WS_VISIBLE | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_SORT,
                     CRect(10, 100, 60, 122)});
  t.items.push_back({"Button", "Attivo", 1011, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX,
                     CRect(10, 130, 100, 150)});
  t.style |= WS_VISIBLE;
  FormDialog dlg;
  ASSERT_TRUE(dlg.CreateIndirect(t));
  Driver ui;
  CButton check_ctl;
  ASSERT_TRUE(check_ctl.SubclassDlgItem(1011, &dlg));
  CButton* check = &check_ctl;
  EXPECT_TRUE(ui.Click(check));
  EXPECT_EQ(check->GetCheck(), BST_CHECKED);
  EXPECT_EQ(CWnd::GetFocus(), check);
  ui.Press(VK_SPACE);
  EXPECT_EQ(check->GetCheck(), BST_UNCHECKED);
  check->EnableWindow(FALSE);
  EXPECT_FALSE(ui.Click(check));
  EXPECT_EQ(check->GetCheck(), BST_UNCHECKED);

  CComboBox combo_ctl;
  ASSERT_TRUE(combo_ctl.SubclassDlgItem(1010, &dlg));
  CComboBox* combo = &combo_ctl;
  EXPECT_EQ(combo->AddString("Rossi"), 0);
  EXPECT_EQ(combo->AddString("bianchi"), 0);  // sorted without case
  EXPECT_EQ(combo->AddString("Verdi"), 2);
  EXPECT_EQ(combo->GetCurSel(), CB_ERR);
  ui.Focus(combo);
  ui.Press(VK_DOWN);
  EXPECT_EQ(combo->GetCurSel(), 0);
  ui.Type("v");
  EXPECT_EQ(combo->GetCurSel(), 2);
  EXPECT_STREQ(combo->GetWindowTextString(), "Verdi");
  ui.Press(VK_F4);
  EXPECT_TRUE(combo->GetDroppedState());
  ui.Press(VK_UP);
  ui.Press(VK_RETURN);  // the open list takes Enter, the dialog does not
  EXPECT_FALSE(combo->GetDroppedState());
  EXPECT_EQ(combo->GetCurSel(), 1);
  EXPECT_FALSE(dlg.ok_pressed_);
  EXPECT_EQ(combo->SetCurSel(9), CB_ERR);
  EXPECT_EQ(combo->GetCurSel(), CB_ERR);
}

TEST_F(WindowTest, TheDriverRunsIdleAndReadsTheMessageBoxesShown) {
  FormDialog dlg;
  ASSERT_TRUE(dlg.CreateIndirect(FormTemplate()));
  Driver ui;
  int handler_runs = 0;
  vkt::win::AddIdleHandler([&] { ++handler_runs; });
  int idles = dlg.idles_;
  ui.RunIdle();  // no modal loop: every top-level window, then the handlers
  EXPECT_EQ(dlg.idles_, idles + 1);
  EXPECT_EQ(handler_runs, 1);
  EXPECT_TRUE(ui.MessageBoxes().empty());
  ui.Answer(IDNO);
  EXPECT_EQ(vkt::services().MessageBox("Vuoi uscire ?", "Mirto", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(vkt::services().MessageBox("Fatto", "Mirto", MB_OK), IDOK);  // no answer left: default
  auto shown = ui.MessageBoxes();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].text, "Vuoi uscire ?");
  EXPECT_EQ(shown[0].caption, "Mirto");
  EXPECT_EQ(shown[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(shown[0].answer, IDNO);
  EXPECT_EQ(shown[1].answer, IDOK);
  // Without the test double there is nothing to read.
  {
    vkt::ScopedServices real(nullptr);
    EXPECT_TRUE(ui.MessageBoxes().empty());
  }
}

}  // namespace
