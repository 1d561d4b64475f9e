// A dialog with a tab control whose pages are child dialogs, both with the
// look and behaviour of CVKTDialog: painted background (a blue gradient
// even without a skin), background bitmap in the five layouts,
// transparency, dragging by the client area, the shared on-screen keyboard,
// skinned labels and group boxes, Ctrl+C / Ctrl+Insert copying the caption,
// and one SQL connection and command per window.
//
//   class CArticoloDlg : public CVKTTabsDialog {
//    public:
//     CArticoloDlg() : CVKTTabsDialog(IDD_ARTICOLO) {}
//    protected:
//     void OnInitTabControl() override { CreateTabControl(&m_Tabs, CRect(8, 8, 592, 392), IDC_TABS); }
//     void OnAddPages() override {
//       AddPage(&m_dati, "Dati");          // CVKTTabsPage-derived members
//       AddPage(&m_prezzi, "Prezzi");
//     }
//   };
//
// A page hands Escape and the function keys (not F12) to its tabs dialog,
// so that the dialog's keys work while a page's field has the focus. When
// the skin manager is enabled, constructing a tabs dialog reads the tab
// colours of the process-wide `tab_info` from the skin's "TabSettings".
#ifndef VKT_DIALOGS_VKTTABSDIALOG_H_
#define VKT_DIALOGS_VKTTABSDIALOG_H_

#include <memory>
#include <vector>

#include "controls/vktstatic.h"
#include "dialogs/vktdialog.h"
#include "saapi/saapi.h"
#include "vkt_export.h"
#include "win/bitmap.h"
#include "win/sfttabs.h"

namespace vkt::dialogs::detail {

// The look shared by the tabs dialog and its pages: background, bitmap,
// transparency, easy move, keyboard and the skinned labels.
class WindowLook {
 public:
  WindowLook(int easy_move, int gradient) : easy_move_(easy_move), gradient_(gradient) {}
  ~WindowLook();

  int easy_move_;
  int gradient_;
  HBITMAP bitmap_ = nullptr;
  long bitmap_width_ = 0;
  long bitmap_height_ = 0;
  LayOutStyle layout_ = LayoutNormal;
  std::vector<std::unique_ptr<CVKTStatic>> statics_;
  std::vector<std::unique_ptr<CVKTGroupBox>> group_boxes_;

  // Counts a shown keyboard into CVKTDialog::numdlg.
  void CountKeyboard();
  // The destructor's keyboard bookkeeping.
  void ReleaseKeyboard() noexcept;
  void ShowKeyboard(int show);
  void ToggleKeyboard();
  unsigned long SetBitmap(CWnd* wnd, HBITMAP bmp);
  void SetStyle(CWnd* wnd, LayOutStyle style);
  int SetTransparent(CWnd* wnd, unsigned char alpha);
  int SetTransparentColor(CWnd* wnd, unsigned long colour, int enable);
  void Subclass(CWnd* wnd);
  void FreeBitmap();
  void FreeWrappers();
  void Paint(CWnd* wnd, CDC* dc);
  // Ctrl+C, Ctrl+Insert and F24; never consumes.
  void Keys(CWnd* wnd, const MSG* msg);
  void LButtonDown(CWnd* wnd, CPoint point);
};

}  // namespace vkt::dialogs::detail

// The library's empty template for tab dialogs (421 x 298 dialog units).
constexpr UINT IDD_VKT_TABBED = 6965;
// The id of the tab control the dialog creates when the template has none.
constexpr UINT IDC_VKT_TABS = 6966;

class VKT_API CVKTTabsDialog : public CSftTabsDialog {
 public:
  explicit CVKTTabsDialog(CWnd* parent = nullptr);
  explicit CVKTTabsDialog(UINT template_id, CWnd* parent = nullptr);
  explicit CVKTTabsDialog(const char* template_name, CWnd* parent = nullptr);
  // Keyboard bookkeeping, closes the connection (failures are logged), frees
  // the bitmap and the labels and gives up the tab control's registration.
  ~CVKTTabsDialog() override;

  void ShowKeyboard(int show) { look_.ShowKeyboard(show); }
  void ShowGradient(int on) { look_.gradient_ = on; }
  // As CVKTDialog's. The tab control stays registered: only the bitmap is
  // replaced.
  unsigned long SetBitmap(HBITMAP bmp);
  unsigned long SetBitmap(int resource_id);
  unsigned long SetBitmap(const char* file);
  HBITMAP GetBitmap() const { return look_.bitmap_; }
  void SetStyle(LayOutStyle style) { look_.SetStyle(this, style); }
  using CWnd::GetStyle;
  void EnableEasyMove(int on) { look_.easy_move_ = on; }
  int SetTransparent(unsigned char alpha) { return look_.SetTransparent(this, alpha); }
  int SetTransparentColor(unsigned long colour, int enable) {
    return look_.SetTransparentColor(this, colour, enable);
  }
  void SetSubclassStatic(int on) { subclass_statics_ = on; }
  // Runs only when SetSubclassStatic was set.
  void SubclassStaticControls();
  size_t subclassed_statics() const { return look_.statics_.size(); }
  size_t subclassed_group_boxes() const { return look_.group_boxes_.size(); }

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnEraseBkgnd(CDC* dc) override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnLButtonDown(UINT flags, CPoint point) override;
  void OnLButtonDblClk(UINT flags, CPoint point) override;

  CSftTabs m_Tabs;
  CFont m_TabFont;
  SAConnection m_con;
  SACommand m_cmd;

 protected:
  // Right after the dialog's own initialisation: create or attach the tab
  // control (CreateTabControl / AttachTabControl with m_Tabs). When it does
  // neither, the dialog places the tab control over its client area.
  virtual void OnInitTabControl() = 0;
  // Once the tab control has its font and style: add the pages (AddPage).
  virtual void OnAddPages() = 0;

 private:
  void Init();
  void FreeResources();

  int subclass_statics_ = FALSE;
  vkt::dialogs::detail::WindowLook look_{TRUE, TRUE};
  bool registered_ = false;
};

class VKT_API CVKTTabsPage : public CSftTabsPage {
 public:
  explicit CVKTTabsPage(UINT template_id, CWnd* parent = nullptr);
  explicit CVKTTabsPage(const char* template_name, CWnd* parent = nullptr);
  ~CVKTTabsPage() override;

  // Stored for the host; the library does not act on it.
  void SetAutoSetField(int on) { auto_set_field_ = on; }
  int GetAutoSetField() const { return auto_set_field_; }
  // The host's field hook; the default does nothing.
  virtual void GetField();

  void ShowKeyboard(int show) { look_.ShowKeyboard(show); }
  void ShowGradient(int on) { look_.gradient_ = on; }
  unsigned long SetBitmap(HBITMAP bmp);
  unsigned long SetBitmap(int resource_id);
  unsigned long SetBitmap(const char* file);
  HBITMAP GetBitmap() const { return look_.bitmap_; }
  void SetStyle(LayOutStyle style) { look_.SetStyle(this, style); }
  using CWnd::GetStyle;
  void EnableEasyMove(int on) { look_.easy_move_ = on; }
  int SetTransparent(unsigned char alpha) { return look_.SetTransparent(this, alpha); }
  int SetTransparentColor(unsigned long colour, int enable) {
    return look_.SetTransparentColor(this, colour, enable);
  }
  // A page always replaces its labels and group boxes.
  void SubclassStaticControls() { look_.Subclass(this); }
  size_t subclassed_statics() const { return look_.statics_.size(); }
  size_t subclassed_group_boxes() const { return look_.group_boxes_.size(); }

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  // A field that refused its input keeps its page.
  BOOL OnKillActive() override;
  BOOL OnEraseBkgnd(CDC* dc) override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnLButtonDown(UINT flags, CPoint point) override;
  void OnLButtonDblClk(UINT flags, CPoint point) override;

  SAConnection m_con;
  SACommand m_cmd;

 protected:
  // After the page's controls were subclassed: the page's own set-up
  // (formats of its fields).
  virtual void OnInitPage() = 0;

 private:
  int auto_set_field_ = TRUE;
  vkt::dialogs::detail::WindowLook look_{FALSE, FALSE};
};

#endif  // VKT_DIALOGS_VKTTABSDIALOG_H_
