// The base of every modal dialog of the library and of the hosts: a painted
// background (flat colour, the skin's vertical gradient, or a bitmap in one
// of five layouts), whole-window transparency, dragging by any point of the
// client area, the library's skinned labels and group boxes in place of
// the plain ones, the shared on-screen keyboard, Ctrl+C / Ctrl+Insert
// copying the caption, and one SQL connection and command per dialog.
//
//   class CClientiDlg : public CVKTDialog {
//    public:
//     CClientiDlg() : CVKTDialog(IDD_CLIENTI) { SetSubclassStatic(TRUE); }
//     BOOL OnInitDialog() override {
//       CVKTDialog::OnInitDialog();          // subclassing first
//       ShowGradient(FALSE);
//       SetBackColor(RGB(240, 244, 250));
//       return TRUE;
//     }
//   };
#ifndef VKT_DIALOGS_VKTDIALOG_H_
#define VKT_DIALOGS_VKTDIALOG_H_

#include <memory>
#include <vector>

#include "controls/vktstatic.h"
#include "saapi/saapi.h"
#include "vkt_export.h"
#include "win/bitmap.h"
#include "win/dialog.h"
#include "win/layered.h"

// The toolkit's themed dialog.
class VKT_API CXTPDialog : public CDialog {
 public:
  using CDialog::CDialog;
  ~CXTPDialog() override;
};

enum LayOutStyle {
  LayoutNormal = 0,   // at the top-left corner, not scaled
  LayoutTile = 1,     // repeated over the client area
  LayoutCenter = 2,   // centred
  LayoutStretch = 3,  // stretched to the client area
  LayoutResize = 4,   // as LayoutNormal; setting it sizes the dialog to the bitmap
};

class VKT_API CVKTDialog : public CXTPDialog {
 public:
  explicit CVKTDialog(CWnd* parent = nullptr);
  explicit CVKTDialog(UINT template_id, CWnd* parent = nullptr);
  explicit CVKTDialog(const char* template_name, CWnd* parent = nullptr);
  // Hides the keyboard when this was the last dialog that found it shown;
  // closes the dialog's connection (a failure is logged, never thrown).
  ~CVKTDialog() override;

  // Dialogs open while the keyboard was shown (shared with the tabs dialogs).
  static int numdlg;

  void ShowKeyboard(int show);
  void ShowGradient(int on) { gradient_ = on; }
  void SetBackColor(long colour) { back_color_ = colour; }
  void EnableEasyMove(int on) { easy_move_ = on; }
  void SetSubclassStatic(int on) { subclass_statics_ = on; }
  void ShowFrameTheme() { frame_theme_ = true; }
  bool frame_theme() const { return frame_theme_; }

  // Takes ownership of `bmp`; 0 when its size cannot be read (it is then
  // released). The same handle again only repaints. The subclassed labels
  // are not touched.
  unsigned long SetBitmap(HBITMAP bmp);
  unsigned long SetBitmap(int resource_id);
  unsigned long SetBitmap(const char* file);
  HBITMAP GetBitmap() const { return bitmap_; }
  void SetStyle(LayOutStyle style);
  LayOutStyle GetStyle() const { return layout_; }
  using CWnd::GetStyle;

  // 0 where layered windows are not available. 255 makes the window opaque.
  int SetTransparent(unsigned char alpha);
  int SetTransparentColor(unsigned long colour, int enable);

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
  BOOL OnEraseBkgnd(CDC* dc) override;
  void OnSize(UINT type, int cx, int cy) override;
  void OnLButtonDown(UINT flags, CPoint point) override;
  void OnLButtonDblClk(UINT flags, CPoint point) override;

  // The wrappers SubclassStaticControls made.
  size_t subclassed_statics() const { return statics_.size(); }
  size_t subclassed_group_boxes() const { return group_boxes_.size(); }
  const CRect& window_rect() const { return m_rect; }

  SAConnection m_con;
  SACommand m_cmd;

 protected:
  void SubclassStaticControls();
  // Closes m_con when it is open; a failure is logged, never thrown.
  void DisconnectQuietly() noexcept;

 private:
  void Init();
  void FreeBitmap();
  void FreeResources();
  void ToggleKeyboard();

  int subclass_statics_ = FALSE;
  int easy_move_ = TRUE;
  int gradient_ = TRUE;
  long back_color_ = -1;
  HBITMAP bitmap_ = nullptr;
  long bitmap_width_ = 0;
  long bitmap_height_ = 0;
  LayOutStyle layout_ = LayoutNormal;
  std::vector<std::unique_ptr<CVKTStatic>> statics_;
  std::vector<std::unique_ptr<CVKTGroupBox>> group_boxes_;
  CRect m_rect;
  bool frame_theme_ = false;

  static SetLayeredWindowAttributesFn set_layered_;
};

namespace vkt::dialogs {
// A failure that cannot be thrown (destructors, window destruction): to the
// host's log when it is open, and to the services' notice.
VKT_API void LogFailure(const std::string& text) noexcept;
// The message shown when a dialog's tool bar cannot be created.
inline constexpr const char* kToolBarFailed =
    "Impossibile creare la barra dei comandi della finestra !";
// Reports the failure and destroys `dlg`, so that its creation fails.
VKT_API BOOL FailDialogCreation(CDialog* dlg);
}  // namespace vkt::dialogs

#endif  // VKT_DIALOGS_VKTDIALOG_H_
