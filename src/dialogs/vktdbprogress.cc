#include "dialogs/vktdbprogress.h"

#include "win/appwnd.h"

namespace vkt::dialogs {
namespace {

class DialogWindow : public vkt::db::ProgressWindow {
 public:
  DialogWindow(CVKTProgressDlg* dialog, std::unique_ptr<CVKTProgressDlg> owned)
      : dialog_(dialog), owned_(std::move(owned)) {}
  ~DialogWindow() override {
    // The owned dialog's destructor takes its window down and gives the
    // owner back its input.
    owned_.reset();
  }
  bool Exists() override { return dialog_->m_hWnd != nullptr && IsWindow(dialog_->m_hWnd); }
  void SetStatus(const char* text) override { dialog_->SetStatus(text); }
  void SetRange(int lower, int upper) override { dialog_->SetRange(lower, upper); }
  void SetStep(int step) override { dialog_->SetStep(step); }
  int StepIt() override { return dialog_->StepIt(); }
  int CheckCancelButton() override { return dialog_->CheckCancelButton(); }
  void HideCancel() override { dialog_->HideCancel(); }

 private:
  CVKTProgressDlg* dialog_;
  std::unique_ptr<CVKTProgressDlg> owned_;
};

}  // namespace

DbProgressProvider::~DbProgressProvider() = default;

std::unique_ptr<vkt::db::ProgressWindow> DbProgressProvider::Create(const char* caption) {
  auto dialog = std::make_unique<CVKTProgressDlg>();
  if (!dialog->Create(AfxGetMainWnd())) return nullptr;
  if (caption) dialog->SetWindowText(caption);
  CVKTProgressDlg* raw = dialog.get();
  return std::make_unique<DialogWindow>(raw, std::move(dialog));
}

std::unique_ptr<vkt::db::ProgressWindow> DbProgressProvider::Wrap(CVKTProgressDlg* dialog) {
  if (!dialog) return nullptr;
  return std::make_unique<DialogWindow>(dialog, nullptr);
}

vkt::db::ProgressProvider* InstallDbProgress() {
  static DbProgressProvider provider;
  return vkt::db::SetProgressProvider(&provider);
}

}  // namespace vkt::dialogs
