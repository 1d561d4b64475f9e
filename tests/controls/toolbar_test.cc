// The dialog tool bar on a real dialog: function keys pressing buttons by
// caption, the arrows leaving it, the idle update, clicks, and the forced
// kill-focus before a command reads a field.
#include <gtest/gtest.h>

#include "controls/vktedit.h"
#include "controls/vkttoolbar.h"
#include "form.h"
#include "win/canvas.h"

namespace {

using vkt::test::FormTest;

// Records the commands and answers the update requests from `enabled`.
class BarDialog : public vkt::test::FormDialog {
 public:
  BOOL OnCmdMsg(UINT id, int code, void* extra, void* info) override {
    if (code == CN_UPDATE_COMMAND_UI && id == 501) {
      static_cast<CCmdUI*>(extra)->Enable(enable_501);
      return TRUE;
    }
    if (code == CN_COMMAND && id >= 500 && id < 600) commands.push_back(id);
    return vkt::test::FormDialog::OnCmdMsg(id, code, extra, info);
  }
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->hwnd == m_hWnd && msg->message == WM_KEYDOWN) keys_here.push_back(static_cast<UINT>(msg->wParam));
    return vkt::test::FormDialog::PreTranslateMessage(msg);
  }
  std::vector<UINT> commands;
  std::vector<UINT> keys_here;
  bool enable_501 = true;
};

class ToolBarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vkt::win::ResetWindows();
    ASSERT_TRUE(dlg_.CreateIndirect(vkt::test::FormTemplate()));
    ::SetActiveWindow(dlg_.m_hWnd);
    ASSERT_EQ(bar_.BeginCreate(&dlg_), 0);
  }
  void TearDown() override { vkt::win::ResetWindows(); }

  vkt::TestServices fake_;
  vkt::ScopedServices use_{&fake_};
  BarDialog dlg_;
  CVKTToolBar bar_;
  vkt::win::Driver ui_;
};

TEST_F(ToolBarTest, FunctionKeysPressTheFirstEnabledButtonOfTheirName) {
  bar_.AddButton(0, 500, "F2 - Sa&lva", xtpButtonIconAndCaption);
  bar_.AddButton(0, 501, "F3 - &Prec.", xtpButtonIconAndCaption);
  bar_.AddButton(0, 502, "F3 - Altro", xtpButtonIconAndCaption);
  bar_.AddButton(0, 503, "F12 - Calcola", xtpButtonCaption);
  bar_.EndCreate();
  bar_.EnableButton(500, false);
  bar_.SetButtonFocus(501);
  ASSERT_EQ(ui_.focus(), &bar_);
  ui_.Press(VK_F2);  // disabled: nothing
  EXPECT_TRUE(dlg_.commands.empty());
  ui_.Press(VK_F3);  // the first of the two
  ui_.Press(VK_F12);
  EXPECT_EQ(dlg_.commands, (std::vector<UINT>{501, 503}));
  // Enter executes the selected button (the last one a key chose).
  ui_.Press(VK_RETURN);
  EXPECT_EQ(dlg_.commands.back(), 503u);
  // F1 and Escape reach the dialog unchanged.
  ui_.Press(VK_F1);
  EXPECT_EQ(dlg_.keys_here, std::vector<UINT>{VK_F1});
  EXPECT_FALSE(bar_.IsButtonEnabled(777));
  EXPECT_FALSE(bar_.IsButtonEnabled(500));
  EXPECT_TRUE(bar_.IsButtonEnabled(501));
  // No key works while another window is active.
  ::SetActiveWindow(nullptr);
  CWnd other;
  ASSERT_TRUE(other.Create("Frame", "", WS_POPUP | WS_VISIBLE, CRect(0, 0, 10, 10), nullptr, 0));
  ::SetActiveWindow(other.m_hWnd);
  size_t n = dlg_.commands.size();
  ui_.Press(VK_F3);
  EXPECT_EQ(dlg_.commands.size(), n);
}

TEST_F(ToolBarTest, ArrowsLeaveTheBarAndLeftRightMoveTheSelection) {
  bar_.AddButton(0, 500, "F2 - Uno", xtpButtonCaption);
  bar_.AddButton(0, 501, "F3 - Due", xtpButtonCaption);
  bar_.EndCreate();
  bar_.SetButtonFocus(500);
  ui_.Press(VK_RIGHT);
  EXPECT_EQ(bar_.selected(), 1);
  ui_.Press(VK_RETURN);
  EXPECT_EQ(dlg_.commands, std::vector<UINT>{501});
  ui_.Press(VK_DOWN);
  EXPECT_EQ(ui_.focus(), dlg_.GetDlgItem(1001));  // the tool bar is first in the order
  bar_.SetButtonFocus(500);
  ui_.Press(VK_UP);
  EXPECT_EQ(ui_.focus(), dlg_.GetDlgItem(IDCANCEL));  // round to the last control
}

TEST_F(ToolBarTest, LayoutIdleUpdatePressedStateAndClicks) {
  vkt::win::RegisterBitmapResource(9001, 24, 24, std::vector<COLORREF>(24 * 24, RGB(200, 0, 0)));
  bar_.AddButton(9001, 500, "F2 - Sa&lva", xtpButtonIconAndCaption);
  bar_.AddButton(0, 501, "F3 - &Prec.", xtpButtonIconAndCaption);
  bar_.EndCreate();
  CRect r;
  bar_.GetWindowRect(&r);
  CRect client;
  dlg_.GetClientRect(&client);
  EXPECT_EQ(r.Width(), client.Width());
  EXPECT_GE(r.Height(), 36);  // a 24-pixel icon and its margins
  // On top of the dialog's controls.
  EXPECT_EQ(dlg_.GetChildren().front(), &bar_);

  dlg_.enable_501 = false;
  bar_.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  EXPECT_FALSE(bar_.IsButtonEnabled(501));
  EXPECT_TRUE(bar_.IsButtonEnabled(500));  // no handler: unchanged
  dlg_.enable_501 = true;
  bar_.SendMessage(WM_IDLEUPDATECMDUI, TRUE, 0);
  EXPECT_TRUE(bar_.IsButtonEnabled(501));

  bar_.PressButton(500);
  EXPECT_TRUE(bar_.FindButton(500)->pressed);
  bar_.PressButton(501);
  EXPECT_FALSE(bar_.FindButton(500)->pressed);
  bar_.ResetButtons();
  EXPECT_FALSE(bar_.FindButton(501)->pressed);

  const CRect b = bar_.FindButton(500)->rect;
  ASSERT_TRUE(ui_.Click(&bar_, CPoint(b.left + 3, b.top + 3)));
  EXPECT_EQ(dlg_.commands, std::vector<UINT>{500});
  // The icon is drawn in the button.
  vkt::win::Image img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + b.left + 6 + 12, 25 + b.top + b.Height() / 2), RGB(200, 0, 0));

  bar_.SetButtonCaption(501, CString("F3 - Indietro"));
  EXPECT_EQ(bar_.FindButton(501)->caption, "F3 - Indietro");
  bar_.RemoveButton(500);
  EXPECT_EQ(bar_.FindButton(500), nullptr);
  bar_.RemoveButtons();
  EXPECT_TRUE(bar_.buttons().empty());
  EXPECT_EQ(bar_.IconOf(500), nullptr);
}

TEST_F(ToolBarTest, ForcedKillFocusValidatesTheFocusedFieldOnly) {
  CVKTEdit cf, next;
  ASSERT_TRUE(cf.SubclassDlgItem(1001, &dlg_));
  ASSERT_TRUE(next.SubclassDlgItem(1002, &dlg_));
  // A code is valid when it starts with "CF".
  VKTCheck starts_cf = [](const char* t) { return t[0] == 'C' && t[1] == 'F'; };
  cf.SetFormat(16, "U", nullptr, starts_cf);
  next.SetFormat(16, "U", nullptr, starts_cf);  // empty: it would fail too
  bar_.AddButton(0, 500, "F2 - Sa&lva", xtpButtonIconAndCaption);
  bar_.EndCreate();
  ui_.Focus(&cf);
  ui_.Type("CF1234");
  EXPECT_TRUE(bar_.ForceKillFocus());
  EXPECT_TRUE(fake_.transcript().empty());  // valid, and the next field was not asked
  EXPECT_EQ(ui_.focus(), &cf);

  cf.SetWindowText("");
  ui_.Focus(&cf);
  ui_.Type("XYZ");
  fake_.ScriptAnswer(IDYES);  // correct it
  EXPECT_FALSE(bar_.ForceKillFocus());
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, kVktInvalidInput);
  ui_.RunPosted();
  EXPECT_EQ(ui_.focus(), &cf);  // back to the field to correct

  fake_.ScriptAnswer(IDNO);  // keep it as it is
  EXPECT_TRUE(bar_.ForceKillFocus());
  EXPECT_EQ(ui_.focus(), &cf);
  EXPECT_EQ(fake_.transcript().size(), 2u);
}

TEST_F(ToolBarTest, ACreationThatFailsIsReported) {
  CVKTToolBar again;
  EXPECT_EQ(again.BeginCreate(nullptr), 1);
  CVKTToolBar::FailNextCreateForTesting();
  EXPECT_EQ(again.BeginCreate(&dlg_), 1);
  EXPECT_EQ(again.m_hWnd, nullptr);
  EXPECT_FALSE(again.IsButtonEnabled(500));
  EXPECT_EQ(again.BeginCreate(&dlg_), 0);
}

}  // namespace
