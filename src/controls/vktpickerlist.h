// The list of the folder and file pickers: one row per folder or file of a
// folder of the real file system, a selected row, keyboard and mouse as a
// list box has them. It tells its parent by WM_COMMAND: kSelChange when the
// selected row changes, kActivate on a double click or Enter.
//
//   CVKTPickerList list;
//   list.Create(CRect(8, 8, 300, 200), &dlg, 100);
//   list.Fill(vkt::controls::ListFolder("/srv/mirto", true, {}));
#ifndef VKT_CONTROLS_VKTPICKERLIST_H_
#define VKT_CONTROLS_VKTPICKERLIST_H_

#include <string>
#include <vector>

#include "vkt_export.h"
#include "win/window.h"

namespace vkt::controls {

struct PickerEntry {
  std::string label;  // as shown (Windows-1252)
  std::string path;   // the file system's path
  bool folder = false;
};

// The entries of `folder`: its sub-folders, then (when `files`) the files
// that match one of `patterns` ("*.txt", without case; none: every file),
// each group by name without case; hidden entries left out. A first entry
// ".." leads to the parent when there is one. Empty when the folder cannot
// be read.
VKT_API std::vector<PickerEntry> ListFolder(const std::string& folder, bool files,
                                            const std::vector<std::string>& patterns);
// The folder above `path` ("/" stays "/").
VKT_API std::string ParentFolder(const std::string& path);
// `path` without a trailing "/" and with "." and ".." resolved textually.
VKT_API std::string NormalFolder(const std::string& path);
VKT_API bool IsFolder(const std::string& path);
VKT_API bool IsFile(const std::string& path);

}  // namespace vkt::controls

class VKT_API CVKTPickerList : public CWnd {
 public:
  enum : WORD { kSelChange = 1, kActivate = 2 };
  static constexpr int kRowHeight = 18;

  BOOL Create(const CRect& rect, CWnd* parent, UINT id);
  void Fill(std::vector<vkt::controls::PickerEntry> entries);
  const std::vector<vkt::controls::PickerEntry>& entries() const { return entries_; }
  int GetCount() const { return static_cast<int>(entries_.size()); }
  // -1 when no row is selected.
  int GetCurSel() const { return sel_; }
  // Selects a row without telling the parent; -1 clears the selection.
  void SetCurSel(int index);
  // The row whose path is `path`, or -1.
  int Find(const std::string& path) const;
  // The row under a point of the client area, or -1.
  int RowAt(CPoint point) const;
  // The client point at the middle of a row (for clicks).
  CPoint RowCenter(int index) const;

  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override;
  void OnPaint() override;
  void OnLButtonDown(UINT flags, CPoint point) override;
  void OnLButtonDblClk(UINT flags, CPoint point) override;
  void OnKeyDown(UINT vk, UINT repeat, UINT flags) override;
  void OnSetFocus(CWnd* old_wnd) override;
  void OnKillFocus(CWnd* new_wnd) override;

 private:
  void Select(int index, bool notify);
  void Notify(WORD code);
  int VisibleRows() const;
  std::vector<vkt::controls::PickerEntry> entries_;
  int sel_ = -1;
  int top_ = 0;
  bool focused_ = false;
};

#endif  // VKT_CONTROLS_VKTPICKERLIST_H_
