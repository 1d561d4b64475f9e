// The row of large buttons across the top of the record and browse
// dialogs. A function key presses the button whose caption starts with the
// key's name ("F2 - Sa&lva" is pressed by F2); while the tool bar has the
// focus the arrows leave it as Tab and Shift+Tab would.
//
//   CVKTToolBar bar;
//   if (bar.BeginCreate(this) != 0) { /* report */ }
//   bar.AddButton(6959, 38909, "F2 - Sa&lva", xtpButtonIconAndCaption);
//   bar.EndCreate();
//   bar.SetButtonClick("F2");          // executes the save command
//
// A click or a keyboard click sends WM_COMMAND with the button's command id
// to the parent; WM_IDLEUPDATECMDUI asks the parent's update handlers
// (CN_UPDATE_COMMAND_UI) for every button's enabled state.
#ifndef VKT_CONTROLS_VKTTOOLBAR_H_
#define VKT_CONTROLS_VKTTOOLBAR_H_

#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/bitmap.h"
#include "win/window.h"

enum XTPButtonStyle {
  xtpButtonAutomatic = 0,
  xtpButtonCaption = 1,
  xtpButtonIcon = 2,
  xtpButtonIconAndCaption = 3,
  xtpButtonIconAndCaptionBelow = 4,
  xtpButtonCaptionAndDescription = 5,
};

// The standard tool-bar control id.
constexpr UINT AFX_IDW_TOOLBAR = 59392;

// The command bar of the toolkit, placed in a dialog: buttons by command
// id, their layout over the parent's width, painting, clicks and the idle
// update of their state.
class VKT_API CXTPToolBar : public CWnd {
 public:
  struct Button {
    UINT id = 0;
    std::string caption;
    std::string tooltip;
    XTPButtonStyle style = xtpButtonAutomatic;
    bool enabled = true;
    bool visible = true;
    bool pressed = false;
    bool checked = false;
    bool hot = false;
    CRect rect;  // client co-ordinates, set by the layout
  };

  CXTPToolBar();
  ~CXTPToolBar() override;

  // The button of command `id` (the first one added), or null.
  Button* FindButton(UINT id);
  const std::vector<Button>& buttons() const { return buttons_; }
  // The keyboard selection (index into buttons(), -1 for none).
  int selected() const { return selected_; }
  // The command's icon, owned by the bar (null when none).
  HBITMAP IconOf(UINT id) const;

  // Lays the buttons out in rows no wider than `width`; returns the bar's
  // height.
  int CalcLayout(int width);
  // Sends the parent WM_COMMAND with the button's command (enabled,
  // visible buttons only).
  void Execute(int index);

  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;

 protected:
  void SetIcon(UINT id, HBITMAP bmp);
  void Select(int index);
  void Paint();
  int ButtonAt(CPoint p) const;
  std::vector<Button> buttons_;
  std::vector<std::pair<UINT, HBITMAP>> icons_;
  int selected_ = -1;
  int pressed_by_mouse_ = -1;
  CSize icon_size_{16, 16};
};

class VKT_API CVKTToolBar : public CXTPToolBar {
 public:
  CVKTToolBar();
  ~CVKTToolBar() override;

  // 0, or 1 when the window cannot be created.
  short BeginCreate(CWnd* parent);
  // `icon_id` 0: no icon. Returns 0.
  short AddButton(unsigned icon_id, unsigned id, const char* caption, XTPButtonStyle style);
  void EndCreate();

  void SetButtonCaption(UINT id, const CString& caption);
  void SetButtonTooltip(UINT id, const CString& tooltip);
  void SetButtonIcon(UINT id, unsigned icon_id);
  void EnableButton(UINT id, bool enable);
  // False when the button or the window does not exist.
  bool IsButtonEnabled(UINT id);
  void ShowButton(UINT id, bool show);
  void RemoveButton(UINT id);
  void RemoveButtons();
  void PressButton(UINT id, int press = 1);
  void ResetButtons();
  void SetButtonFocus(UINT id);
  // The first enabled button whose caption begins with `prefix`
  // (case-sensitive) is selected and executed; nothing when none matches.
  void SetButtonClick(const char* prefix);
  // Takes the focus from the focused control of the parent, so that it
  // finishes and validates its input, and gives it back. FALSE when the
  // control refused its input and asked to be corrected: the focus then
  // goes back to it by itself and the caller must not act on its value.
  BOOL ForceKillFocus();

  // The keyboard while the tool bar has the focus (its hook).
  BOOL PreTranslateMessage(MSG* msg) override;
  virtual BOOL OnHookMessage(MSG* msg);

  // The next BeginCreate fails (for tests of the dialogs' failure path).
  static void FailNextCreateForTesting() { fail_next_create_ = true; }

 private:
  static bool fail_next_create_;
};

#endif  // VKT_CONTROLS_VKTTOOLBAR_H_
