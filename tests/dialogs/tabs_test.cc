// The tabs dialog and its pages, and a host-style tabbed customer record
// over a real ISAM table: pages switched by keys and clicks, a refused
// field keeping its page, the function keys reaching the dialog from
// inside a page, F2 saving through DBWrite. The dialogs are painted to PNG
// files (build dir, snapshots/dialogs).
#include <cstdio>
#include <fstream>

#include "controls/vktedit.h"
#include "controls/vktnumeric.h"
#include "customer_host.h"
#include "dialog_fixture.h"
#include "dialogs/vkttabbedrecorddialog.h"
#include "dialogs/vkttabsdialog.h"
#include "test_util.h"
#include "win/bitmap.h"
#include "win/sfttabs.h"

namespace {

using vkt::db::test::ClientiTable;
using vkt::db::test::CodeKey;
using vkt::db::test::DbTest;
using vkt::test::Cliente;
using vkt::test::kChild;
using vkt::test::kField;
using vkt::test::SnapshotPath;

enum : UINT {
  IDC_TABS = 1300,
  IDC_NOTE = 1301,
  IDC_CODICE = vkt::test::IDC_CODICE,
  IDC_RAGIONE = vkt::test::IDC_RAGIONE,
  IDC_CF = vkt::test::IDC_CF,
  IDC_CITTA = vkt::test::IDC_CITTA,
  IDC_FIDO = vkt::test::IDC_FIDO,
};

// A page of labelled fields.
vkt::win::DialogTemplate FieldsPage(const char* group, std::vector<std::pair<const char*, UINT>> fields) {
  vkt::win::DialogTemplate t;
  t.style = WS_CHILD;
  t.rect = CRect(0, 0, 400, 200);
  t.items.push_back({"Button", group, 0, kChild | BS_GROUPBOX, CRect(8, 6, 590, 40 + 30 * static_cast<int>(fields.size()))});
  int y = 30;
  for (auto& [label, id] : fields) {
    t.items.push_back({"Static", label, 0, kChild | SS_RIGHT, CRect(16, y + 3, 150, y + 21)});
    t.items.push_back({"Edit", "", id, kField, CRect(160, y, 160 + (id == IDC_RAGIONE ? 330 : 200), y + 23)});
    y += 30;
  }
  return t;
}

// A page that counts what reached it and may refuse to be left.
class CTestPage : public CVKTTabsPage {
 public:
  CTestPage(vkt::win::DialogTemplate t) : CVKTTabsPage(0u) { SetTemplate(t); }
  void OnInitPage() override { ++inits; }
  BOOL OnKillActive() override { return refuse ? FALSE : CVKTTabsPage::OnKillActive(); }
  int inits = 0;
  bool refuse = false;
};

// A plain tabs dialog with two pages; logs notifications and drags.
class CTestTabsDlg : public CVKTTabsDialog {
 public:
  CTestTabsDlg()
      : CVKTTabsDialog(0u),
        first_(FieldsPage("Generale", {{"Nome", IDC_RAGIONE}, {"Citt\xE0", IDC_CITTA}})),
        second_(FieldsPage("Note", {{"Note", IDC_NOTE}})) {
    vkt::win::DialogTemplate t = vkt::test::Template("Scheda articolo", 680, 300);
    SetTemplate(t);
  }
  void OnInitTabControl() override { CreateTabControl(&m_Tabs, CRect(10, 10, 670, 290), IDC_TABS); }
  void OnAddPages() override {
    AddPage(&first_, "Generale");
    AddPage(&second_, "Note");
  }
  LRESULT WindowProc(UINT msg, WPARAM w, LPARAM l) override {
    if (msg == WM_NOTIFY) codes.push_back(reinterpret_cast<SFTTABS_NMHDR*>(l)->code);
    if (msg == WM_NCLBUTTONDOWN) ++drags;
    if (msg == WM_KEYDOWN) keys.push_back(static_cast<UINT>(w));
    return CVKTTabsDialog::WindowProc(msg, w, l);
  }
  CTestPage first_, second_;
  std::vector<UINT> codes;
  std::vector<UINT> keys;
  int drags = 0;
};

class TabsDialogTest : public vkt::test::DialogTest {
 protected:
  void SetUp() override {
    DialogTest::SetUp();
    vkt::win::ResetSftTabs();
  }
  void TearDown() override {
    DialogTest::TearDown();
    vkt::win::ResetSftTabs();
  }
};

CPoint Centre(const CRect& r) { return CPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2); }

bool Near(COLORREF a, COLORREF b, int tolerance = 6) {
  return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
         std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

TEST_F(TabsDialogTest, PagesSwitchByKeysAndClicksWithNotificationsAndVeto) {
  CTestTabsDlg dlg;
  ui_.Then([&] {
    ASSERT_EQ(dlg.GetPageCount(), 2);
    EXPECT_EQ(dlg.first_.inits, 1);
    EXPECT_EQ(dlg.m_Tabs.GetTabText(1), "Note");
    EXPECT_TRUE(dlg.first_.IsWindowVisible());
    EXPECT_FALSE(dlg.second_.IsWindowVisible());
    // A page always replaces its labels and group box.
    EXPECT_EQ(dlg.first_.subclassed_statics(), 2u);
    EXPECT_EQ(dlg.first_.subclassed_group_boxes(), 1u);
    CWnd* name = dlg.first_.GetDlgItem(IDC_RAGIONE);
    ui_.Focus(name);
    ui_.Type("Vite M6");
    ui_.Press(VK_TAB);  // Tab stays within the page
    EXPECT_EQ(ui_.focus(), dlg.first_.GetDlgItem(IDC_CITTA));
    ui_.Press(VK_TAB, vkt::win::kCtrl);
    EXPECT_EQ(dlg.GetActiveIndex(), 1);
    EXPECT_FALSE(dlg.first_.IsWindowVisible());
    EXPECT_TRUE(dlg.second_.IsWindowVisible());
    EXPECT_EQ(ui_.focus(), dlg.second_.GetDlgItem(IDC_NOTE));  // the focus follows
    EXPECT_EQ(dlg.codes, (std::vector<UINT>{TCN_SELCHANGING, TCN_SELCHANGE}));
    // Ctrl+Shift+Tab and Ctrl+PageDown wrap round.
    ui_.Press(VK_TAB, vkt::win::kCtrl | vkt::win::kShift);
    EXPECT_EQ(dlg.GetActiveIndex(), 0);
    ui_.Press(VK_NEXT, vkt::win::kCtrl);
    EXPECT_EQ(dlg.GetActiveIndex(), 1);
    // A click on the first tab: the tab control takes the focus and keeps it.
    CRect tab = dlg.m_Tabs.GetTabRect(0);
    ui_.Click(&dlg.m_Tabs, Centre(tab));
    EXPECT_EQ(dlg.GetActiveIndex(), 0);
    EXPECT_EQ(ui_.focus(), &dlg.m_Tabs);
    // The arrows on the focused tabs.
    ui_.Press(VK_RIGHT);
    EXPECT_EQ(dlg.GetActiveIndex(), 1);
    ui_.Press(VK_RIGHT);
    EXPECT_EQ(dlg.GetActiveIndex(), 0);
    // A page that refuses to go keeps its tab; only the question was asked.
    dlg.first_.refuse = true;
    dlg.codes.clear();
    ui_.Press(VK_RIGHT);
    EXPECT_EQ(dlg.GetActiveIndex(), 0);
    EXPECT_TRUE(dlg.first_.IsWindowVisible());
    EXPECT_EQ(dlg.codes, std::vector<UINT>{TCN_SELCHANGING});
    dlg.first_.refuse = false;
    // A click on a page does not drag the dialog (pages start without easy
    // move); one on the dialog itself does.
    ui_.Click(&dlg.first_, CPoint(300, 150));
    EXPECT_EQ(dlg.drags, 0);
    ui_.Click(&dlg, CPoint(670, 295));
    EXPECT_EQ(dlg.drags, 1);
    ASSERT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("tabs_dialog.png")));
    // A function key from inside a page is posted on to the dialog; F12 is
    // not. Escape reaches the dialog and cancels it.
    ui_.Focus(dlg.first_.GetDlgItem(IDC_CITTA));
    ui_.Press(VK_F5);
    ui_.Press(VK_F12);
    EXPECT_EQ(dlg.keys, std::vector<UINT>{VK_F5});
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(TabsDialogTest, ControlCCopiesTheCaptionOfTheDialogOrOfThePage) {
  CTestTabsDlg dlg;
  ui_.Then([&] {
    std::string clip;
    ui_.Focus(&dlg.m_Tabs);
    ui_.Press('C', vkt::win::kCtrl);
    ASSERT_TRUE(fake_.GetClipboardText(&clip));
    EXPECT_EQ(clip, "Scheda articolo");
    dlg.first_.SetWindowText("Dati generali");
    ui_.Focus(dlg.first_.GetDlgItem(IDC_RAGIONE));
    ui_.Press(VK_INSERT, vkt::win::kCtrl);
    ASSERT_TRUE(fake_.GetClipboardText(&clip));
    EXPECT_EQ(clip, "Dati generali");  // the page's own text, not the dialog's
    dlg.EndDialog(IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
}

TEST_F(TabsDialogTest, BlueGradientWithoutSkinWhereCVKTDialogPaintsNothingOfItsOwn) {
  CTestTabsDlg dlg;
  CVKTDialog plain(0u);
  plain.SetTemplate(vkt::test::Template("Piano", 200, 120));
  ui_.Then([&] {
    vkt::win::Image img = vkt::win::Render(&dlg);
    CRect wnd, client;
    dlg.GetWindowRect(&wnd);
    CPoint origin(0, 0);
    dlg.ClientToScreen(&origin);
    int ox = origin.x - wnd.left, oy = origin.y - wnd.top;
    dlg.GetClientRect(&client);
    // Top and bottom rows of the client area, left of the tab control.
    EXPECT_TRUE(Near(img.At(ox + 3, oy + 1), RGB(221, 236, 254))) << std::hex << img.At(ox + 3, oy + 1);
    EXPECT_TRUE(Near(img.At(ox + 3, oy + client.bottom - 2), RGB(147, 178, 227)))
        << std::hex << img.At(ox + 3, oy + client.bottom - 2);
    // The tabs: the selected one in its gradient, the other in the plain one.
    CRect sel = dlg.m_Tabs.GetTabRect(0), other = dlg.m_Tabs.GetTabRect(1);
    CPoint t0(sel.left + 2, sel.top + 2), t1(other.left + 4, other.bottom - 3);
    dlg.m_Tabs.ClientToScreen(&t0);
    dlg.m_Tabs.ClientToScreen(&t1);
    EXPECT_TRUE(Near(img.At(t0.x - wnd.left, t0.y - wnd.top), RGB(255, 215, 165), 12))
        << std::hex << img.At(t0.x - wnd.left, t0.y - wnd.top);
    EXPECT_TRUE(Near(img.At(t1.x - wnd.left, t1.y - wnd.top), RGB(221, 236, 254), 12))
        << std::hex << img.At(t1.x - wnd.left, t1.y - wnd.top);
    dlg.EndDialog(IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  ui_.Then([&] {
    vkt::win::Image img = vkt::win::Render(&plain);
    CRect wnd;
    plain.GetWindowRect(&wnd);
    CPoint origin(0, 0);
    plain.ClientToScreen(&origin);
    EXPECT_EQ(img.At(origin.x - wnd.left + 3, origin.y - wnd.top + 1), vkt::win::GetSysColor(COLOR_BTNFACE));
    plain.EndDialog(IDOK);
  });
  EXPECT_EQ(plain.DoModal(), IDOK);
}

TEST_F(TabsDialogTest, TabColoursComeFromTheSkinIniOnlyWhenASkinIsActive) {
  vkt::testing::TempDir dir("tabs");
  std::string ini = dir.path() + "/skin.ini";
  {
    std::ofstream f(ini);
    f << "[TabSettings]\ncolorBg=255\ncolorBgSelEnd=65280\n";
  }
  std::snprintf(par_.skin_ini, sizeof par_.skin_ini, "%s", ini.c_str());
  tab_info.colorBg = 1;
  { CTestTabsDlg no_skin; }
  EXPECT_EQ(tab_info.colorBg, 1u);  // without a skin: as it was
  vkt::win::SetSkinEnabled(true);
  vkt::win::SetSkinColor(COLOR_BTNFACE, RGB(10, 20, 30));
  vkt::win::SetSkinColor(COLOR_BTNSHADOW, RGB(40, 50, 60));
  { CTestTabsDlg skinned; }
  EXPECT_EQ(tab_info.colorBg, 255u);
  EXPECT_EQ(tab_info.colorBgSelEnd, 65280u);
  EXPECT_EQ(tab_info.colorBgSel, 4371199u);  // missing keys: the defaults
  EXPECT_EQ(tab_info.colorBgEnd, 16706781u);
  EXPECT_EQ(tab_info.colorFace, RGB(10, 20, 30));
  EXPECT_EQ(tab_info.colorShadow, RGB(40, 50, 60));
  // A skin INI without the section leaves every default.
  {
    std::ofstream f(ini);
    f << "[SpreadSettings]\ncolorBg=1\n";
  }
  { CTestTabsDlg defaults; }
  EXPECT_EQ(tab_info.colorBg, 14922387u);
  EXPECT_EQ(tab_info.colorBgSelStart, 10868735u);
  EXPECT_EQ(tab_info.colorBgSelEnd, 4371199u);
  EXPECT_EQ(tab_info.colorBgStart, RGB(147, 178, 227));
}

TEST_F(TabsDialogTest, SetBitmapKeepsTheTabControlRegistered) {
  CTestTabsDlg dlg;
  ASSERT_EQ(vkt::win::SftTabsRegistrations(), 1);
  EXPECT_EQ(dlg.SetBitmap(vkt::win::CreateSolidBitmap(16, 16, RGB(200, 0, 0))), 1u);
  EXPECT_EQ(dlg.SetBitmap(vkt::win::CreateSolidBitmap(16, 16, RGB(0, 200, 0))), 1u);
  EXPECT_EQ(vkt::win::SftTabsRegistrations(), 1);
  ui_.Then([&] {
    // The tab control was created after the bitmaps, and pages switch.
    ASSERT_NE(dlg.m_Tabs.m_hWnd, nullptr);
    EXPECT_EQ(dlg.GetPageCount(), 2);
    EXPECT_TRUE(dlg.SetActivePage(1));
    dlg.SetStyle(LayoutTile);
    EXPECT_EQ(dlg.SetBitmap(static_cast<HBITMAP>(nullptr)), 1u);
    EXPECT_EQ(vkt::win::SftTabsRegistrations(), 1);
    dlg.EndDialog(IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(vkt::win::SftTabsRegistrations(), 1);
  {
    // The registration ends with the dialog: a tab control made afterwards
    // fails, as with an unregistered class.
    CTestTabsDlg other;
    EXPECT_EQ(vkt::win::SftTabsRegistrations(), 2);
  }
  EXPECT_EQ(vkt::win::SftTabsRegistrations(), 1);
}

TEST_F(TabsDialogTest, TheTabControlFailsWithoutARegistrationAndChecksItsSettingsBlock) {
  CVKTDialog host(0u);
  host.SetTemplate(vkt::test::Template("Host", 300, 200));
  ui_.Then([&] {
    CSftTabs tabs;
    EXPECT_FALSE(tabs.Create(WS_VISIBLE, CRect(0, 0, 200, 100), &host, 1));
    SftTabs_RegisterApp(nullptr);
    ASSERT_TRUE(tabs.Create(WS_VISIBLE, CRect(0, 0, 200, 100), &host, 1));
    SFTTABS_CONTROL bad{};
    bad.cbSize = 56;
    EXPECT_EQ(tabs.SendMessage(SFTTABSM_SETCONTROLINFO, 0, reinterpret_cast<LPARAM>(&bad)), FALSE);
    SFTTABS_CONTROL good{};
    good.cbSize = 60;
    good.tabHeight = 30;
    EXPECT_EQ(tabs.SendMessage(SFTTABSM_SETCONTROLINFO, 0, reinterpret_cast<LPARAM>(&good)), TRUE);
    EXPECT_EQ(tabs.GetCurSel(), -1);
    EXPECT_FALSE(tabs.SelectTab(0));
    tabs.AddTab("Uno");
    tabs.AddTab("Due");
    EXPECT_EQ(tabs.GetCurSel(), 0);
    EXPECT_EQ(tabs.GetPageRect().top, 30 + 1);  // under the 30-pixel tabs and the frame
    EXPECT_FALSE(tabs.SelectTab(2));
    EXPECT_TRUE(tabs.SelectTab(1));
    EXPECT_EQ(tabs.GetCurSel(), 1);
    SftTabs_UnregisterApp(nullptr);
    host.EndDialog(IDOK);
  });
  EXPECT_EQ(host.DoModal(), IDOK);
}

// --- The tabbed customer record --------------------------------------------------------

class CAnagraficaPage : public CVKTTabsPage {
 public:
  CAnagraficaPage()
      : CVKTTabsPage(0u) {
    SetTemplate(FieldsPage("Anagrafica",
                             {{"Codice", IDC_CODICE}, {"Ragione sociale", IDC_RAGIONE}, {"Codice fiscale", IDC_CF}}));
  }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, IDC_CODICE, m_codice);
    DDX_Control(dx, IDC_RAGIONE, m_ragione);
    DDX_Control(dx, IDC_CF, m_cf);
  }
  void OnInitPage() override {
    m_codice.SetFormat(8, "U<!_");
    m_ragione.SetFormat(40, "<!_");
    m_cf.SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
  }
  CVKTEdit m_codice, m_ragione, m_cf;
};

class CRecapitoPage : public CVKTTabsPage {
 public:
  CRecapitoPage() : CVKTTabsPage(0u) {
    SetTemplate(FieldsPage("Recapito e fido", {{"Citt\xE0", IDC_CITTA}, {"Fido", IDC_FIDO}}));
  }
  void DoDataExchange(CDataExchange* dx) override {
    DDX_Control(dx, IDC_CITTA, m_citta);
    DDX_Control(dx, IDC_FIDO, m_fido);
  }
  void OnInitPage() override {
    m_citta.SetFormat(30, "P<!_");
    m_fido.SetDecimalPlaces(0);
    m_fido.SetRange(0, 99999999);
  }
  CVKTEdit m_citta;
  CVKTNumeric m_fido;
};

// The host's customer, on two pages of the library's own template.
class CClienteTabbedDlg : public CVKTTabbedRecordDialog {
 public:
  CClienteTabbedDlg(CDBCtree* table, const char* codice) : table_(table), codice_(codice ? codice : "") {
    m_newRecord = codice ? 0 : 1;
  }
  void OnInitTabControl() override {
    CRect client;
    GetClientRect(&client);
    CreateTabControl(&m_Tabs, CRect(8, 0, client.right - 8, client.bottom - 8), IDC_TABS);
  }
  void OnAddPages() override {
    AddPage(&anagrafica, "Anagrafica");
    AddPage(&recapito, "Recapito e fido");
  }
  BOOL OnInitDialog() override {
    if (!CVKTTabbedRecordDialog::OnInitDialog()) return FALSE;
    Load();
    return TRUE;
  }
  void Load() {
    if (m_newRecord == 1) return;
    table_->DBSetIndex(1);
    CodeKey key(codice_.c_str());
    if (table_->DBGetRecord(key.bytes) != 0) {
      m_newRecord = 1;
      return;
    }
    Show(*static_cast<Cliente*>(table_->DBGetBuffer()));
  }
  void Show(const Cliente& c) {
    using vkt::test::Field;
    anagrafica.m_codice.SetText(Field(c.codice, sizeof c.codice).c_str());
    anagrafica.m_codice.SetReadOnly(TRUE);
    anagrafica.m_ragione.SetText(Field(c.ragione, sizeof c.ragione).c_str());
    anagrafica.m_cf.SetText(Field(c.cod_fiscale, sizeof c.cod_fiscale).c_str());
    recapito.m_citta.SetText(Field(c.citta, sizeof c.citta).c_str());
    recapito.m_fido.SetValue(c.fido);
  }
  void OnRecordSalva() override {
    using vkt::test::Put;
    Cliente c = m_newRecord == 1 ? Cliente{} : *static_cast<Cliente*>(table_->DBGetBuffer());
    char buf[64];
    anagrafica.m_codice.GetText(buf);
    Put(c.codice, sizeof c.codice, buf);
    anagrafica.m_ragione.GetText(buf);
    Put(c.ragione, sizeof c.ragione, buf);
    anagrafica.m_cf.GetText(buf);
    Put(c.cod_fiscale, sizeof c.cod_fiscale, buf);
    recapito.m_citta.GetText(buf);
    Put(c.citta, sizeof c.citta, buf);
    c.fido = static_cast<int32_t>(recapito.m_fido.GetValueInteger());
    int16_t s = DBWrite(table_, m_newRecord == 1 ? 0 : 1, &c, table_);
    writes.push_back(s);
    if (s == 0) EndDialog(IDOK);
    else DBISAM(s, "clienti");
  }
  void OnRecordSucc() override {
    ++moves;
    if (table_->DBNextRecord() == 0) Show(*static_cast<Cliente*>(table_->DBGetBuffer()));
  }
  void OnRecordCerca() override { ++searches; }
  void OnRecordElimina() override { ++deletes; }
  int OnRecordLookup(int id) override {
    lookups.push_back(id);
    return id == IDC_FIDO ? 1 : 0;
  }

  CAnagraficaPage anagrafica;
  CRecapitoPage recapito;
  std::vector<int16_t> writes;
  std::vector<int> lookups;
  int moves = 0, searches = 0, deletes = 0;

 private:
  CDBCtree* table_;
  std::string codice_;
};

class TabbedCustomerTest : public DbTest {
 protected:
  void SetUp() override {
    DbTest::SetUp();
    vkt::win::ResetWindows();
    vkt::win::ResetSkin();
    vkt::win::ResetSftTabs();
    CVKTDialog::numdlg = 0;
    std::strcpy(par_.last_user, "ROSSI");
    InitSession();
    OpenClienti(table_, clienti_);
    AddClienti(clienti_, SomeClienti());
  }
  void TearDown() override {
    vkt::win::ResetWindows();
    vkt::win::ResetSftTabs();
    DbTest::TearDown();
  }
  Cliente Read(const char* codice) {
    clienti_.DBSetIndex(1);
    CodeKey key(codice);
    EXPECT_EQ(clienti_.DBGetRecord(key.bytes), 0) << codice;
    return *static_cast<Cliente*>(clienti_.DBGetBuffer());
  }

  ClientiTable table_{Path("clienti")};
  Cliente buffer_{};
  CDBCtree clienti_{1, &table_.ifil, &buffer_, PutStandard, nullptr, vkt::db::test::StampCliente, 0};
  vkt::win::Driver ui_;
};

TEST_F(TabbedCustomerTest, EditAcrossPagesRefusedFieldKeysAndSaveThroughDBWrite) {
  CClienteTabbedDlg dlg(&clienti_, "C002");
  ui_.Then([&] {
    EXPECT_EQ(dlg.m_toolBar.buttons().size(), 6u);
    EXPECT_EQ(dlg.anagrafica.m_ragione.GetWindowTextString(), CString("Bianchi Carla"));
    EXPECT_EQ(dlg.recapito.m_citta.GetWindowTextString(), CString("Palermo"));
    // The tabs begin below the tool bar.
    CRect bar, tabs;
    dlg.m_toolBar.GetWindowRect(&bar);
    dlg.m_Tabs.GetWindowRect(&tabs);
    EXPECT_GE(tabs.top, bar.bottom);
    ASSERT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("cliente_tabbed.png")));
    // A wrong fiscal code: leaving the page asks, and the page stays.
    ui_.Focus(&dlg.anagrafica.m_cf);
    ui_.Type("bbbccc90b02a000n");
    fake_.ScriptAnswer(IDYES);  // "Vuoi Correggere ?"
    ui_.Press(VK_TAB, vkt::win::kCtrl);
    EXPECT_EQ(dlg.GetActiveIndex(), 0);
    EXPECT_TRUE(dlg.anagrafica.IsWindowVisible());
    EXPECT_EQ(ui_.focus(), &dlg.anagrafica.m_cf);
    // The same by a click on the second tab.
    fake_.ScriptAnswer(IDYES);
    ui_.Click(&dlg.m_Tabs, Centre(dlg.m_Tabs.GetTabRect(1)));
    EXPECT_EQ(dlg.GetActiveIndex(), 0);
    EXPECT_EQ(ui_.focus(), &dlg.anagrafica.m_cf);
    ui_.Type("bbbccc90b02a000m");
    ui_.Press(VK_TAB, vkt::win::kCtrl);
    EXPECT_EQ(dlg.GetActiveIndex(), 1);
    EXPECT_EQ(ui_.focus(), &dlg.recapito.m_citta);
    // F10 and Space look up the page's focused field; Space goes on to it
    // when the host leaves it (the city's blank below).
    ui_.Press(VK_F10);
    ui_.Press(VK_RETURN);  // Enter: the next field of the page
    EXPECT_EQ(ui_.focus(), &dlg.recapito.m_fido);
    ui_.Press(VK_SPACE);
    EXPECT_EQ(dlg.lookups, (std::vector<int>{IDC_CITTA, IDC_FIDO}));
    EXPECT_EQ(dlg.recapito.m_fido.GetWindowTextString(), CString("2000"));  // the blank was taken
    // F5 from inside a page reaches Cerca, and the focus stays in the field.
    ui_.Press(VK_F5);
    EXPECT_EQ(dlg.searches, 1);
    EXPECT_EQ(ui_.focus(), &dlg.recapito.m_fido);
    ui_.Focus(&dlg.recapito.m_citta);
    ui_.Type("reggio emilia");
    ui_.Press(VK_RETURN);
    ui_.Type("7500");
    ASSERT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("cliente_tabbed_recapito.png")));
    ui_.Press(VK_F2);  // saved: the dialog ends
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(ui_.stalls(), 0);
  EXPECT_EQ(dlg.writes, std::vector<int16_t>{0});
  Cliente c = Read("C002");
  EXPECT_EQ(VKT_FIELD(c, cod_fiscale), "BBBCCC90B02A000M");
  EXPECT_EQ(VKT_FIELD(c, citta), "Reggio Emilia");
  const int32_t fido = c.fido;
  EXPECT_EQ(fido, 7500);
  EXPECT_EQ(VKT_FIELD(c, utente), "ROSSI");
  std::vector<std::string> texts;
  for (const auto& m : fake_.transcript()) texts.push_back(m.text);
  EXPECT_EQ(texts, (std::vector<std::string>{kVktInvalidInput, kVktInvalidInput}));
}

TEST_F(TabbedCustomerTest, FunctionKeysFromAPageAndANewRecord) {
  {
    CClienteTabbedDlg dlg(&clienti_, "C001");
    ui_.Then([&] {
      ui_.Focus(&dlg.anagrafica.m_ragione);
      ui_.Press(VK_F4);  // next record, the focus stays in the page's field
      EXPECT_EQ(dlg.moves, 1);
      EXPECT_EQ(ui_.focus(), &dlg.anagrafica.m_ragione);
      EXPECT_EQ(dlg.anagrafica.m_ragione.GetWindowTextString(), CString("Bianchi Carla"));
      ui_.Press(VK_F12);  // the calculator, and the key goes on to the field
      EXPECT_EQ(fake_.shell_calls().size(), 1u);
      ui_.Press(VK_ESCAPE);
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    EXPECT_TRUE(dlg.writes.empty());
  }
  {
    // A new record: Salva only. Delete-when-new enables Elimina's rule, but
    // the button was never made, so F6 goes on to the field.
    CClienteTabbedDlg dlg(&clienti_, nullptr);
    dlg.m_deleteWhenNew = 1;
    ui_.Then([&] {
      ASSERT_EQ(dlg.m_toolBar.buttons().size(), 1u);
      ui_.Focus(&dlg.anagrafica.m_codice);
      ui_.Press(VK_F3);  // swallowed
      EXPECT_EQ(dlg.moves, 0);
      ui_.Press(VK_F6);
      EXPECT_EQ(dlg.deletes, 0);
      EXPECT_EQ(ui_.focus(), &dlg.anagrafica.m_codice);  // went on to the field
      ui_.Type("c010");
      ui_.Press(VK_RETURN);
      ui_.Type("Gialli Ugo");
      ui_.Press(VK_RETURN);
      ui_.Type("RSSMRA85T10A562S");
      ui_.Press(VK_TAB, vkt::win::kCtrl);
      ui_.Type("como");
      ui_.Press(VK_F2);
    });
    EXPECT_EQ(dlg.DoModal(), IDOK);
    Cliente c = Read("C010");
    EXPECT_EQ(VKT_FIELD(c, ragione), "Gialli Ugo");
    EXPECT_EQ(VKT_FIELD(c, citta), "Como");
  }
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(TabbedCustomerTest, AToolBarThatCannotBeMadeIsReportedAndTheDialogIsNotShown) {
  CClienteTabbedDlg dlg(&clienti_, "C001");
  CVKTToolBar::FailNextCreateForTesting();
  EXPECT_EQ(dlg.DoModal(), -1);
  EXPECT_EQ(ui_.stalls(), 0);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, vkt::dialogs::kToolBarFailed);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
}

}  // namespace
