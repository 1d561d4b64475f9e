// The record dialog run modally as a host runs it: its tool bar, the
// function keys, the idle update of the buttons, the lookup keys, and the
// save that waits for the focused field to accept its input.
#include "controls/vktedit.h"
#include "dialog_fixture.h"
#include "dialogs/vktrecorddialog.h"

namespace {

using vkt::test::DialogTest;
using vkt::test::kField;
using vkt::test::Template;

int g_vopid_calls = 0;
void CountVopid() { ++g_vopid_calls; }

// A field that records the function keys that reach it.
class KeyField : public CVKTEdit {
 public:
  void OnKeyDown(UINT vk, UINT repeat, UINT flags) override {
    if (vk >= VK_F1 && vk <= VK_F24) keys.push_back(vk);
    CVKTEdit::OnKeyDown(vk, repeat, flags);
  }
  std::vector<UINT> keys;
};

class HostDialog : public CVKTRecordDialog {
 public:
  HostDialog() {
    SetTemplate(Template("Cliente", 420, 200,
                         {{"Edit", "", 1001, kField, CRect(100, 60, 300, 82)},
                          {"Edit", "", 1002, kField, CRect(100, 90, 300, 112)},
                          {"Edit", "", 1003, kField, CRect(100, 120, 300, 142)}}));
  }
  void DoDataExchange(CDataExchange* dx) override {
    CVKTRecordDialog::DoDataExchange(dx);
    DDX_Control(dx, 1001, code);
    DDX_Control(dx, 1002, cf);
    DDX_Control(dx, 1003, city);
  }
  BOOL OnInitDialog() override {
    CVKTRecordDialog::OnInitDialog();
    code.SetFormat(8, "U");
    // A code is valid when it starts with "CF".
    cf.SetFormat(16, "U", nullptr, [](const char* t) { return t[0] == 'C' && t[1] == 'F'; });
    city.SetFormat(30, "", nullptr, [](const char* t) { return t[0] != '\0'; });
    return TRUE;
  }
  int OnRecordLookup(int id) override {
    lookups.push_back(id);
    return id == lookup_field ? 1 : 0;
  }
  void OnRecordHelp() override { log.push_back("help"); }
  void OnRecordSalva() override { log.push_back("salva:" + cf.GetWindowTextString().str()); }
  void OnRecordElimina() override { log.push_back("elimina"); }
  void OnRecordPrec() override { log.push_back("prec"); }
  void OnRecordSucc() override { log.push_back("succ"); }
  void OnRecordCerca() override { log.push_back("cerca"); }
  void OnRecordAnnulla() override { log.push_back("annulla"); }
  void OnCancel() override {
    log.push_back("cancel");
    CVKTRecordDialog::OnCancel();
  }
  std::vector<std::string> Captions() const {
    std::vector<std::string> out;
    for (const auto& b : m_toolBar.buttons()) out.push_back(b.caption);
    return out;
  }

  KeyField code, cf, city;
  int lookup_field = -1;
  std::vector<int> lookups;
  std::vector<std::string> log;
};

class RecordDialogTest : public DialogTest {};

TEST_F(RecordDialogTest, ANewRecordShowsOnlySaveAndSwallowsTheOtherKeys) {
  HostDialog dlg;
  std::vector<std::string> captions;
  ui_.Then([&] {
    captions = dlg.Captions();
    ui_.Focus(&dlg.code);
    ui_.Press(VK_F3);
    ui_.Press(VK_F4);
    ui_.Press(VK_F5);
    ui_.Press(VK_F2);
    EXPECT_TRUE(dlg.m_toolBar.FindButton(ID_RECORD_SALVA)->pressed);  // press feedback
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(captions, std::vector<std::string>{"F2 - Sa&lva"});
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"salva:", "cancel"}));
  EXPECT_TRUE(dlg.code.keys.empty());  // F3..F5 consumed, nothing reached the field
  EXPECT_EQ(ui_.stalls(), 0);
}

TEST_F(RecordDialogTest, AnExistingRecordHasEveryButtonAndItsKeys) {
  HostDialog dlg;
  dlg.m_newRecord = 0;
  std::vector<std::string> captions, tooltips;
  ui_.Then([&] {
    captions = dlg.Captions();
    for (const auto& b : dlg.m_toolBar.buttons()) tooltips.push_back(b.tooltip);
    ui_.Focus(&dlg.code);
    ui_.Press(VK_F3);
    EXPECT_EQ(ui_.focus(), &dlg.m_toolBar);  // the command's button has the focus
    EXPECT_EQ(dlg.m_toolBar.buttons()[static_cast<size_t>(dlg.m_toolBar.selected())].id, ID_RECORD_PREC);
    ui_.Press(VK_F4);
    ui_.Press(VK_F5);
    ui_.Press(VK_F6);
    const CRect r = dlg.m_toolBar.FindButton(ID_RECORD_ANNULLA)->rect;
    ui_.Click(&dlg.m_toolBar, CPoint(r.left + 4, r.top + 4));
    ui_.Press(VK_F1);
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(captions, (std::vector<std::string>{"F2 - Sa&lva", "F3 - &Prec.", "F4 - &Succ.", "F5 - &Cerca",
                                                "F6 - &Elimina", "&Ricarica"}));
  EXPECT_EQ(tooltips, (std::vector<std::string>{"Salva i dati del record", "Vai sul record precedente",
                                                "Vai sul record successivo", "Cerca un record",
                                                "Elimina il record selezionato",
                                                "Ricarica il record dal Database"}));
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"prec", "succ", "cerca", "elimina", "annulla", "help",
                                               "cancel"}));
}

TEST_F(RecordDialogTest, TheIdleUpdateDecidesWhatTheKeysReach) {
  HostDialog dlg;
  dlg.m_newRecord = 0;
  ui_.Then([&] {
    ui_.Focus(&dlg.code);
    dlg.m_newRecord = 1;  // the host shows a new record now
    ui_.RunIdle();
    EXPECT_FALSE(dlg.m_toolBar.IsButtonEnabled(ID_RECORD_ELIMINA));
    EXPECT_FALSE(dlg.m_toolBar.IsButtonEnabled(ID_RECORD_SUCC));
    ui_.Press(VK_F6);  // disabled: goes on to the field
    ui_.Press(VK_F4);  // disabled: swallowed
    dlg.m_newRecord = 0;
    ui_.Press(VK_F6);  // the tool bar still says disabled
    ui_.RunIdle();
    ui_.Press(VK_F6);
    dlg.m_singleRecord = 1;
    ui_.RunIdle();
    EXPECT_FALSE(dlg.m_toolBar.IsButtonEnabled(ID_RECORD_PREC));
    EXPECT_FALSE(dlg.m_toolBar.IsButtonEnabled(ID_RECORD_CERCA));
    EXPECT_TRUE(dlg.m_toolBar.IsButtonEnabled(ID_RECORD_ELIMINA));
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"elimina", "cancel"}));
  EXPECT_EQ(dlg.code.keys, (std::vector<UINT>{VK_F6, VK_F6}));
}

TEST_F(RecordDialogTest, OnlyTheMaskedButtonsExistAndMissingOnesPassTheirKey) {
  HostDialog dlg;
  dlg.m_newRecord = 0;
  dlg.m_buttons = 0x01;
  dlg.m_pressFeedback = 0;
  std::vector<std::string> captions;
  ui_.Then([&] {
    captions = dlg.Captions();
    ui_.Focus(&dlg.code);
    ui_.Press(VK_F6);
    ui_.Press(VK_F2);
    EXPECT_FALSE(dlg.m_toolBar.FindButton(ID_RECORD_SALVA)->pressed);
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(captions, std::vector<std::string>{"F2 - Sa&lva"});
  EXPECT_EQ(dlg.code.keys, std::vector<UINT>{VK_F6});
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"salva:", "cancel"}));
}

TEST_F(RecordDialogTest, LookupKeysHelpVopidCalculatorAndEnter) {
  HostDialog dlg;
  par_.VopidFunc = CountVopid;
  g_vopid_calls = 0;
  dlg.lookup_field = 1002;
  ui_.Then([&] {
    ui_.Focus(&dlg.code);
    ui_.Type("A B");  // lookup answers 0: the blank is typed
    EXPECT_EQ(dlg.code.GetWindowTextString(), CString("A B"));
    ui_.Press(VK_RETURN);
    EXPECT_EQ(ui_.focus(), &dlg.cf);
    ui_.Type("CF ");  // the host handles the blank here
    EXPECT_EQ(dlg.cf.GetWindowTextString(), CString("CF"));
    ui_.Press(VK_F10);
    ui_.DoubleClick(&dlg.city);
    ui_.Press(VK_F11);
    ui_.Press(VK_F12);
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.lookups, (std::vector<int>{1001, 1002, 1002, 1003}));
  EXPECT_EQ(g_vopid_calls, 1);
  ASSERT_EQ(fake_.shell_calls().size(), 1u);
  EXPECT_NE(fake_.shell_calls()[0].find("calc"), std::string::npos);
  // F12 still reached the field, F11 did not.
  EXPECT_EQ(dlg.city.keys, (std::vector<UINT>{VK_F12}));
  EXPECT_TRUE(dlg.cf.keys.empty());
}

TEST_F(RecordDialogTest, SaveWaitsForTheFocusedFieldAndNeverChecksTheNextOne) {
  HostDialog dlg;
  dlg.m_newRecord = 0;
  ui_.Then([&] {
    ui_.Focus(&dlg.cf);
    ui_.Type("XY");
    fake_.ScriptAnswer(IDYES);  // "Vuoi Correggere ?" yes
    ui_.Press(VK_F2);
    EXPECT_EQ(ui_.focus(), &dlg.cf);  // back to the field
    ui_.Type("\b\bCF99");
    fake_.ScriptAnswer(IDNO);  // not asked: the field is valid now
    ui_.Press(VK_F2);
    EXPECT_EQ(ui_.focus(), &dlg.cf);
    dlg.cf.SetWindowText("ZZ");
    fake_.ScriptAnswer(IDNO);  // keep it as it is: the save goes on
    ui_.Press(VK_F2);
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.log, (std::vector<std::string>{"salva:CF99", "salva:ZZ", "cancel"}));
  // Two questions, both about the code: the empty city after it was never
  // asked about.
  ASSERT_EQ(fake_.transcript().size(), 2u);
  for (const auto& m : fake_.transcript()) EXPECT_EQ(m.text, kVktInvalidInput);
  EXPECT_EQ(fake_.answers_left(), 1u);
}

TEST_F(RecordDialogTest, ASilentSaveStopsAtAnInvalidField) {
  HostDialog dlg;
  par_.silent = 1;
  ui_.Then([&] {
    ui_.Focus(&dlg.cf);
    ui_.Type("XY");
    ui_.Press(VK_F2);
    ui_.RunPosted();
    EXPECT_EQ(ui_.focus(), &dlg.cf);
    ui_.Press(VK_ESCAPE);
  });
  dlg.DoModal();
  EXPECT_EQ(dlg.log, std::vector<std::string>{"cancel"});
  EXPECT_TRUE(fake_.transcript().empty());  // silent: no box
}

TEST_F(RecordDialogTest, ADialogWithoutItsToolBarIsReportedAndNotShown) {
  HostDialog dlg;
  CVKTToolBar::FailNextCreateForTesting();
  EXPECT_EQ(dlg.DoModal(), -1);
  ASSERT_EQ(fake_.transcript().size(), 1u);
  EXPECT_EQ(fake_.transcript()[0].text, vkt::dialogs::kToolBarFailed);
  EXPECT_EQ(fake_.transcript()[0].type & MB_ICONMASK, MB_ICONSTOP);
  EXPECT_EQ(dlg.m_hWnd, nullptr);
  EXPECT_EQ(ui_.stalls(), 0);
}

}  // namespace
