// The dialog base on real windows: backgrounds, bitmaps and their owner,
// transparency, the shared keyboard, the skinned labels, the caption on
// the clipboard, dragging, and a connection closed with the dialog.
#include <cstdio>
#include <stdexcept>

#include "dialog_fixture.h"
#include "saapi/sascript.h"
#include "test_util.h"
#include "win/bitmap.h"
#include "win/softkeys.h"

namespace {

using vkt::test::DialogTest;
using vkt::test::kChild;
using vkt::test::Template;

class BaseDialog : public CVKTDialog {
 public:
  explicit BaseDialog(const vkt::win::DialogTemplate& t) { SetTemplate(t); }
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_NCLBUTTONDOWN) drags.push_back(static_cast<int>(w));
    return CVKTDialog::WindowProc(msg, w, l);
  }
  std::vector<int> drags;
};

// The client area starts at (1, 25) in a rendered dialog.
COLORREF ClientPixel(CWnd* dlg, int x, int y) { return vkt::win::Render(dlg).At(1 + x, 25 + y); }

class CVKTDialogTest : public DialogTest {};

TEST_F(CVKTDialogTest, BackgroundIsTheSkinGradientOrAFlatColourOnlyWithoutGradient) {
  BaseDialog dlg(Template("Sfondo", 200, 100));
  ASSERT_TRUE(dlg.CreateIndirect(Template("Sfondo", 200, 100)));
  const COLORREF face = vkt::win::GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(ClientPixel(&dlg, 100, 2), face);  // no skin, no colour: the default
  dlg.SetBackColor(RGB(10, 120, 10));
  EXPECT_EQ(ClientPixel(&dlg, 100, 50), face);  // gradient set: the colour waits
  vkt::win::SetSkinEnabled(true);
  vkt::win::SetSkinColor(COLOR_BTNFACE, RGB(250, 250, 250));
  vkt::win::SetSkinColor(COLOR_BTNSHADOW, RGB(50, 50, 50));
  COLORREF top = ClientPixel(&dlg, 100, 0), bottom = ClientPixel(&dlg, 100, 99);
  EXPECT_GT(GetRValue(top), 240);
  EXPECT_LT(GetRValue(bottom), 60);
  dlg.ShowGradient(FALSE);
  EXPECT_EQ(ClientPixel(&dlg, 100, 50), RGB(10, 120, 10));
  vkt::win::SetSkinEnabled(false);
  EXPECT_EQ(ClientPixel(&dlg, 100, 50), RGB(10, 120, 10));
}

TEST_F(CVKTDialogTest, BitmapLayouts) {
  BaseDialog dlg(Template("Bitmap", 200, 100));
  ASSERT_TRUE(dlg.CreateIndirect(Template("Bitmap", 200, 100)));
  dlg.ShowGradient(FALSE);
  // 30 x 20, red with a blue top-left pixel.
  std::vector<COLORREF> px(30 * 20, RGB(255, 0, 0));
  px[0] = RGB(0, 0, 255);
  ASSERT_EQ(dlg.SetBitmap(vkt::win::CreateBitmap(30, 20, px)), 1u);
  const COLORREF face = vkt::win::GetSysColor(COLOR_BTNFACE);
  EXPECT_EQ(ClientPixel(&dlg, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(ClientPixel(&dlg, 31, 5), face);  // normal: once, unscaled
  dlg.SetStyle(LayoutTile);
  EXPECT_EQ(ClientPixel(&dlg, 30, 20), RGB(0, 0, 255));  // the next tile's corner
  EXPECT_EQ(ClientPixel(&dlg, 180, 90), RGB(255, 0, 0));
  dlg.SetStyle(LayoutCenter);
  EXPECT_EQ(ClientPixel(&dlg, 85, 40), RGB(0, 0, 255));  // ((200-30)/2, (100-20)/2)
  EXPECT_EQ(ClientPixel(&dlg, 5, 5), face);
  dlg.SetStyle(LayoutStretch);
  EXPECT_EQ(ClientPixel(&dlg, 195, 95), RGB(255, 0, 0));
  // A tile larger than the client area is drawn once at (0, 0).
  std::vector<COLORREF> big(400 * 300, RGB(0, 200, 0));
  big[0] = RGB(0, 0, 255);
  ASSERT_EQ(dlg.SetBitmap(vkt::win::CreateBitmap(400, 300, big)), 1u);
  dlg.SetStyle(LayoutTile);
  EXPECT_EQ(ClientPixel(&dlg, 0, 0), RGB(0, 0, 255));
  EXPECT_EQ(ClientPixel(&dlg, 199, 99), RGB(0, 200, 0));
  // Resize: the window takes the bitmap's size where it stands.
  CRect before;
  dlg.GetWindowRect(&before);
  ASSERT_EQ(dlg.SetBitmap(vkt::win::CreateBitmap(30, 20, px)), 1u);
  dlg.SetStyle(LayoutResize);
  CRect after;
  dlg.GetWindowRect(&after);
  EXPECT_EQ(after.left, before.left);
  EXPECT_EQ(after.Width(), 30);
  EXPECT_EQ(after.Height(), 20);
  EXPECT_EQ(dlg.window_rect(), after);  // the position kept up to date
}

TEST_F(CVKTDialogTest, SetBitmapKeepsWhatIsStillInUse) {
  vkt::win::DialogTemplate t = Template("Etichette", 200, 100,
                                        {{"Static", "Nome", 10, kChild, CRect(5, 5, 80, 20)},
                                         {"Button", "Dati", 11, kChild | BS_GROUPBOX, CRect(5, 30, 190, 90)}});
  BaseDialog dlg(t);
  dlg.SetSubclassStatic(TRUE);
  ASSERT_TRUE(dlg.CreateIndirect(t));
  ASSERT_EQ(dlg.subclassed_statics(), 1u);
  ASSERT_EQ(dlg.subclassed_group_boxes(), 1u);
  size_t bitmaps = vkt::win::LiveBitmaps();
  HBITMAP bmp = vkt::win::CreateSolidBitmap(10, 10, RGB(1, 2, 3));
  ASSERT_EQ(dlg.SetBitmap(bmp), 1u);
  // The labels stay subclassed and keep painting.
  EXPECT_EQ(dlg.subclassed_statics(), 1u);
  EXPECT_EQ(dlg.subclassed_group_boxes(), 1u);
  EXPECT_NE(dynamic_cast<CVKTStatic*>(CWnd::FromHandlePermanent(dlg.GetDlgItem(10)->m_hWnd)), nullptr);
  dlg.GetDlgItem(10)->SetWindowText("Cognome");
  // The same handle again: the dialog keeps a live bitmap.
  ASSERT_EQ(dlg.SetBitmap(bmp), 1u);
  EXPECT_TRUE(vkt::win::IsBitmap(bmp));
  EXPECT_EQ(dlg.GetBitmap(), bmp);
  dlg.ShowGradient(FALSE);
  EXPECT_EQ(ClientPixel(&dlg, 2, 2), RGB(1, 2, 3));
  // A new one releases the old; a handle whose size cannot be read gives 0.
  HBITMAP other = vkt::win::CreateSolidBitmap(10, 10, RGB(4, 5, 6));
  ASSERT_EQ(dlg.SetBitmap(other), 1u);
  EXPECT_FALSE(vkt::win::IsBitmap(bmp));
  EXPECT_EQ(dlg.SetBitmap(reinterpret_cast<HBITMAP>(0x1234)), 0u);
  EXPECT_EQ(dlg.GetBitmap(), nullptr);
  EXPECT_FALSE(vkt::win::IsBitmap(other));
  EXPECT_EQ(dlg.SetBitmap(static_cast<HBITMAP>(nullptr)), 1u);
  EXPECT_EQ(dlg.SetBitmap("/nonexistent/sfondo.bmp"), 0u);
  // From the resources: a new copy at every load, owned by the dialog.
  vkt::win::RegisterBitmapResource(7001, 4, 4, std::vector<COLORREF>(16, RGB(9, 9, 9)));
  EXPECT_EQ(dlg.SetBitmap(7001), 1u);
  EXPECT_EQ(ClientPixel(&dlg, 1, 1), RGB(9, 9, 9));
  EXPECT_EQ(dlg.SetBitmap(7002), 0u);  // no such resource: nothing changes
  EXPECT_EQ(ClientPixel(&dlg, 1, 1), RGB(9, 9, 9));
  EXPECT_EQ(dlg.SetBitmap(static_cast<HBITMAP>(nullptr)), 1u);
  EXPECT_EQ(vkt::win::LiveBitmaps(), bitmaps);
}

TEST_F(CVKTDialogTest, SubclassingReplacesOnlyPlainLabelsAndGroupBoxes) {
  vkt::win::DialogTemplate t = Template("Sostituzioni", 300, 120,
                                        {{"Static", "Nome", 10, kChild, CRect(5, 5, 80, 20)},
                                         {"Static", "Tuo", 12, kChild, CRect(90, 5, 160, 20)},
                                         {"Button", "Gruppo", 11, kChild | BS_GROUPBOX, CRect(5, 30, 190, 90)},
                                         {"Button", "Attivo", 13, kChild | BS_AUTOCHECKBOX, CRect(200, 30, 290, 50)},
                                         {"Button", "OK", IDOK, kChild | BS_DEFPUSHBUTTON, CRect(200, 60, 290, 84)}});
  class Attached : public BaseDialog {
   public:
    using BaseDialog::BaseDialog;
    void DoDataExchange(CDataExchange* dx) override { DDX_Control(dx, 12, mine); }
    CStatic mine;
  };
  {
    Attached dlg(t);
    ASSERT_TRUE(dlg.CreateIndirect(t));  // subclassing off: nothing replaced
    EXPECT_EQ(dlg.subclassed_statics(), 0u);
    EXPECT_EQ(dlg.subclassed_group_boxes(), 0u);
  }
  Attached dlg(t);
  dlg.SetSubclassStatic(TRUE);
  ASSERT_TRUE(dlg.CreateIndirect(t));
  EXPECT_EQ(dlg.subclassed_statics(), 1u);  // the one the data exchange took stays
  EXPECT_EQ(CWnd::FromHandlePermanent(dlg.GetDlgItem(12)->m_hWnd), &dlg.mine);
  EXPECT_EQ(dlg.subclassed_group_boxes(), 1u);
  EXPECT_EQ(CWnd::FromHandlePermanent(dlg.GetDlgItem(13)->m_hWnd), nullptr);
  EXPECT_EQ(CWnd::FromHandlePermanent(dlg.GetDlgItem(IDOK)->m_hWnd), nullptr);
}

TEST_F(CVKTDialogTest, TransparencyNeedsTheSystemFunction) {
  BaseDialog dlg(Template("Vetro", 100, 60));
  ASSERT_TRUE(dlg.CreateIndirect(Template("Vetro", 100, 60)));
  int before = vkt::win::InvalidationCount(dlg.m_hWnd);
  EXPECT_EQ(dlg.SetTransparent(255), 1);  // never layered: only redrawn
  EXPECT_FALSE(dlg.GetExStyle() & WS_EX_LAYERED);
  EXPECT_EQ(vkt::win::InvalidationCount(dlg.m_hWnd), before + 1);
  EXPECT_EQ(dlg.SetTransparent(230), 1);
  BYTE alpha = 0;
  DWORD flags = 0;
  ASSERT_TRUE(vkt::win::GetLayeredWindowAttributes(dlg.m_hWnd, nullptr, &alpha, &flags));
  EXPECT_EQ(alpha, 230);
  EXPECT_EQ(flags, LWA_ALPHA);
  EXPECT_EQ(dlg.SetTransparentColor(RGB(255, 0, 255), 1), 1);
  COLORREF key = 0;
  ASSERT_TRUE(vkt::win::GetLayeredWindowAttributes(dlg.m_hWnd, &key, nullptr, &flags));
  EXPECT_EQ(key, RGB(255, 0, 255));
  EXPECT_EQ(flags, LWA_COLORKEY);
  EXPECT_EQ(dlg.SetTransparentColor(0, 0), 1);
  EXPECT_FALSE(dlg.GetExStyle() & WS_EX_LAYERED);

  vkt::win::SetLayeredAttributesAvailable(false);
  BaseDialog old_system(Template("Vetro", 100, 60));
  ASSERT_TRUE(old_system.CreateIndirect(Template("Vetro", 100, 60)));
  EXPECT_EQ(old_system.SetTransparent(100), 0);
  EXPECT_EQ(old_system.SetTransparentColor(0, 1), 0);
  EXPECT_FALSE(old_system.GetExStyle() & WS_EX_LAYERED);
}

TEST_F(CVKTDialogTest, TheLastDialogThatFoundTheKeyboardShownHidesIt) {
  CmfSoftkeysCtrl keyboard;
  par_.keyboard = &keyboard;
  keyboard.InvokeMethod(kSoftkeysShow);
  auto first = std::make_unique<BaseDialog>(Template("Uno", 100, 60));
  auto second = std::make_unique<BaseDialog>(Template("Due", 100, 60));
  EXPECT_EQ(CVKTDialog::numdlg, 2);
  first.reset();
  EXPECT_TRUE(keyboard.shown());
  second.reset();
  EXPECT_FALSE(keyboard.shown());
  EXPECT_EQ(CVKTDialog::numdlg, 0);

  // F24 and a double click toggle it; ShowKeyboard(1) shows it once.
  BaseDialog dlg(Template("Tre", 100, 60, {{"Edit", "", 7, vkt::test::kField, CRect(5, 5, 90, 25)}}));
  ASSERT_TRUE(dlg.CreateIndirect(Template("Tre", 100, 60, {{"Edit", "", 7, vkt::test::kField, CRect(5, 5, 90, 25)}})));
  ui_.Focus(dlg.GetDlgItem(7));
  ui_.Press(VK_F24);
  EXPECT_TRUE(keyboard.shown());
  EXPECT_EQ(CVKTDialog::numdlg, 1);
  ui_.DoubleClick(&dlg, CPoint(50, 50));
  EXPECT_FALSE(keyboard.shown());
  EXPECT_EQ(CVKTDialog::numdlg, 0);
  int shows = keyboard.show_calls();
  dlg.ShowKeyboard(1);
  dlg.ShowKeyboard(1);
  EXPECT_EQ(keyboard.show_calls(), shows + 1);
  dlg.ShowKeyboard(0);
  EXPECT_FALSE(keyboard.shown());
  par_.keyboard = nullptr;
  dlg.ShowKeyboard(1);  // no keyboard: nothing
  EXPECT_FALSE(keyboard.shown());
}

TEST_F(CVKTDialogTest, ControlCCopiesTheCaptionAndAClickDragsTheWindow) {
  vkt::win::DialogTemplate t = Template("Anagrafica clienti", 200, 80,
                                        {{"Button", "Vai", 7, kChild | WS_TABSTOP, CRect(5, 5, 90, 25)}});
  BaseDialog dlg(t);
  ASSERT_TRUE(dlg.CreateIndirect(t));
  ui_.Focus(dlg.GetDlgItem(7));
  ui_.Press('C', vkt::win::kCtrl);
  std::string clip;
  ASSERT_TRUE(fake_.GetClipboardText(&clip));
  EXPECT_EQ(clip, "Anagrafica clienti");
  fake_.SetClipboardAvailable(false);
  ui_.Press(VK_INSERT, vkt::win::kCtrl);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, "Unable to set Clipboard data");

  ui_.Click(&dlg, CPoint(100, 60));
  EXPECT_EQ(dlg.drags, std::vector<int>{HTCAPTION});
  dlg.EnableEasyMove(FALSE);
  ui_.Click(&dlg, CPoint(100, 60));
  EXPECT_EQ(dlg.drags.size(), 1u);
}

// Services whose notice itself fails, as a host's broken log window would.
class FailingNotices : public vkt::TestServices {
 public:
  void Notice(const std::string&) override {
    ++tries;
    throw std::runtime_error("notice window gone");
  }
  int tries = 0;
};

TEST_F(CVKTDialogTest, ADisconnectThatFailsInTheDestructorIsLoggedAndNeverThrown) {
  vkt::sa::ScriptedServer server;
  vkt::sa::ScopedDriver odbc(SA_ODBC_Client, &server);
  vkt::testing::TempDir dir("vkt-dlg-log");
  const std::string log_path = dir / "mirto.log";
  FILE* log = std::fopen(log_path.c_str(), "w+");
  ASSERT_NE(log, nullptr);
  par_.log_file = log;  // (a packed member: no reference to it)

  server.FailDisconnect(1);
  auto dlg = std::make_unique<BaseDialog>(Template("Clienti", 100, 60));
  ASSERT_TRUE(dlg->CreateIndirect(Template("Clienti", 100, 60)));
  dlg->m_con.Connect("ditta", "rossi", "segreta", SA_ODBC_Client);
  ASSERT_TRUE(dlg->m_con.isConnected());
  dlg.reset();  // a throw here would end the process
  // The failed disconnect still lets the link go.
  EXPECT_EQ(server.log(), (std::vector<std::string>{"CONNECT ditta|rossi|segreta", "DISCONNECT", "DESTROY"}));
  const std::string text = "Disconnessione non riuscita: Disconnect failed";
  EXPECT_EQ(fake_.notices(), std::vector<std::string>{text});
  std::fflush(log);
  const std::string logged = vkt::testing::ReadFile(log_path);
  EXPECT_EQ(logged.size(), std::string("dd/mm/yyyy hh:mm:ss - ").size() + text.size() + 2) << logged;
  EXPECT_NE(logged.find(" - " + text + "\r\n"), std::string::npos) << logged;

  // A disconnect that succeeds says nothing.
  auto quiet = std::make_unique<BaseDialog>(Template("Clienti", 100, 60));
  quiet->m_con.Connect("ditta", "rossi", "segreta", SA_ODBC_Client);
  quiet.reset();
  EXPECT_EQ(server.log().back(), "DISCONNECT");
  EXPECT_EQ(fake_.notices().size(), 1u);
  EXPECT_EQ(vkt::testing::ReadFile(log_path), logged);

  // Nor does the report escape when the notice itself throws: the log keeps
  // the line.
  std::fclose(log);
  log = std::fopen(log_path.c_str(), "w+");
  ASSERT_NE(log, nullptr);
  par_.log_file = log;
  FailingNotices failing;
  vkt::ScopedServices use(&failing);
  server.FailDisconnect(1);
  auto broken = std::make_unique<BaseDialog>(Template("Clienti", 100, 60));
  broken->m_con.Connect("ditta", "rossi", "segreta", SA_ODBC_Client);
  broken.reset();
  EXPECT_EQ(failing.tries, 1);
  EXPECT_EQ(server.log().back(), "DESTROY");
  std::fflush(log);
  EXPECT_NE(vkt::testing::ReadFile(log_path).find(" - " + text + "\r\n"), std::string::npos);
  std::fclose(log);
  par_.log_file = nullptr;
}

}  // namespace
