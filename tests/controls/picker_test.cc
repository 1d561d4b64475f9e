// The folder and file pickers over a real folder tree, driven as a user
// drives them (arrows, Enter, clicks, double clicks, typing), with PNG
// snapshots of both.
#include <string>
#include <vector>

#include "controls/vktfiledialog.h"
#include "controls/vktfolderdialog.h"
#include "system_fixture.h"
#include "win/canvas.h"
#include "win/winconst.h"

namespace {

class PickerTest : public vkt::test::SystemTest {
 protected:
  void SetUp() override {
    SystemTest::SetUp();
    Mkdir("archivio/anno2024");
    Mkdir("archivio/anno2025/marzo");
    Mkdir("archivio/Bilanci");
    Mkdir("archivio/.nascosta");
    Write("archivio/clienti.txt", "Rossi\n");
    Write("archivio/Note.TXT", "x");
    Write("archivio/fatture.csv", "1;2\n");
  }
  std::string P(const std::string& rel) const { return dir_ / rel; }
  static std::vector<std::string> Labels(const CVKTPickerList* list) {
    std::vector<std::string> out;
    for (const auto& e : list->entries()) out.push_back(e.label);
    return out;
  }
  static CVKTPickerList* List(CWnd* w, UINT id) {
    return dynamic_cast<CVKTPickerList*>(CWnd::FromHandlePermanent(w->GetDlgItem(id)->m_hWnd));
  }
  static std::string Text(CWnd* w, UINT id) { return w->GetDlgItem(id)->GetWindowTextString().str(); }
  vkt::win::Driver ui_;
};

TEST_F(PickerTest, ShortNameCutsAfterThirtyFiveCharacters) {
  const std::string s35(35, 'a'), s36 = s35 + "b";
  EXPECT_EQ(CFolderDialog::ShortName(s35).str(), s35);
  EXPECT_EQ(CFolderDialog::ShortName(s36).str(), s35 + "...");
  EXPECT_EQ(CFolderDialog::ShortName("").str(), "");
}

TEST_F(PickerTest, FolderPickerOpensOnTheInitialFolderAndCancelKeepsIt) {
  const std::string initial = P("archivio/anno2025");
  CFolderDialog dlg("Scegli la cartella", initial.c_str(), BIF_RETURNONLYFSDIRS, nullptr);
  EXPECT_EQ(dlg.browse_info().ulFlags, BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT);
  EXPECT_STREQ(dlg.browse_info().lpszTitle, "Selezione Corrente");
  bool checked = false;
  ui_.Then([&] {
    CWnd* w = dlg.GetBrowserWindow();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->GetWindowTextString().str(), "Scegli la cartella");
    EXPECT_EQ(Text(w, CFolderDialog::kHeadingId), "Selezione Corrente");
    EXPECT_EQ(Text(w, CFolderDialog::kStatusId), CFolderDialog::ShortName(initial).str());
    CVKTPickerList* list = List(w, CFolderDialog::kListId);
    ASSERT_NE(list, nullptr);
    // Folders only, hidden ones left out, ".." first; the initial folder selected.
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"..", "anno2024", "anno2025", "Bilanci"}));
    ASSERT_EQ(list->GetCurSel(), 2);
    EXPECT_EQ(dlg.GetOpenFolder(), P("archivio"));
    // Up moves the choice, and the status line follows.
    ui_.Press(VK_UP);
    EXPECT_EQ(list->GetCurSel(), 1);
    EXPECT_EQ(dlg.GetPathName().str(), P("archivio/anno2024"));
    EXPECT_EQ(Text(w, CFolderDialog::kStatusId),
              CFolderDialog::ShortName(P("archivio/anno2024")).str());
    EXPECT_TRUE(vkt::win::SavePng(w, SnapshotPath("folder_picker.png")));
    checked = true;
    EXPECT_TRUE(ui_.Click(w->GetDlgItem(IDCANCEL)));
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(checked);
  EXPECT_EQ(ui_.stalls(), 0);
  // Browsing before the Cancel chose nothing.
  EXPECT_EQ(dlg.GetPathName().str(), initial);
  EXPECT_EQ(dlg.GetBrowserWindow(), nullptr);

  // Escape cancels the same way.
  ui_.Then([&] { ui_.Press(VK_DOWN); ui_.Press(VK_ESCAPE); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.GetPathName().str(), initial);
}

TEST_F(PickerTest, FolderPickerEntersFoldersAndConfirmsTheChoice) {
  CFolderDialog dlg("Cartella", P("archivio/anno2025").c_str(), 0, nullptr);
  ui_.Then([&] {
    CWnd* w = dlg.GetBrowserWindow();
    CVKTPickerList* list = List(w, CFolderDialog::kListId);
    ui_.Press(VK_RETURN);  // opens anno2025
    EXPECT_EQ(dlg.GetOpenFolder(), P("archivio/anno2025"));
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"..", "marzo"}));
    EXPECT_EQ(list->GetCurSel(), -1);
    ui_.Press(VK_DOWN);
    ui_.Press(VK_DOWN);
    EXPECT_EQ(dlg.GetPathName().str(), P("archivio/anno2025/marzo"));
    EXPECT_TRUE(ui_.Click(w->GetDlgItem(IDOK)));
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.GetPathName().str(), P("archivio/anno2025/marzo"));

  // Each run starts again on the initial folder; a double click on ".."
  // goes up, one on a folder opens it, OK with nothing selected takes the
  // open folder.
  ui_.Then([&] {
    CWnd* w = dlg.GetBrowserWindow();
    CVKTPickerList* list = List(w, CFolderDialog::kListId);
    EXPECT_EQ(dlg.GetOpenFolder(), P("archivio"));
    EXPECT_EQ(dlg.GetPathName().str(), P("archivio/anno2025"));
    EXPECT_TRUE(ui_.DoubleClick(list, list->RowCenter(0)));
    EXPECT_EQ(dlg.GetOpenFolder(), dir_.path());
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"..", "archivio"}));
    EXPECT_TRUE(ui_.DoubleClick(list, list->RowCenter(1)));
    EXPECT_TRUE(ui_.DoubleClick(list, list->RowCenter(3)));  // Bilanci
    EXPECT_EQ(dlg.GetOpenFolder(), P("archivio/Bilanci"));
    EXPECT_EQ(Labels(list), (std::vector<std::string>{".."}));
    ui_.Press(VK_RETURN);  // nothing selected: nothing happens in the list
    EXPECT_EQ(dlg.GetOpenFolder(), P("archivio/Bilanci"));
    EXPECT_TRUE(ui_.Click(w->GetDlgItem(IDOK)));
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.GetPathName().str(), P("archivio/Bilanci"));
}

TEST_F(PickerTest, FolderPickerStatusTextSelectionAndDisabledOk) {
  const std::string longer = "archivio/una cartella dal nome davvero molto lungo";
  Mkdir(longer);
  CFolderDialog dlg("Cartella", nullptr, 0, nullptr);
  EXPECT_EQ(dlg.GetPathName().str(), "");
  ui_.Then([&] {
    CWnd* w = dlg.GetBrowserWindow();
    dlg.SetSelection(P(longer).c_str());
    CVKTPickerList* list = List(w, CFolderDialog::kListId);
    ASSERT_GE(list->GetCurSel(), 0);
    EXPECT_EQ(list->entries()[list->GetCurSel()].path, P(longer));
    ui_.Click(list, list->RowCenter(list->GetCurSel()));
    const std::string status = Text(w, CFolderDialog::kStatusId);
    EXPECT_EQ(status, P(longer).substr(0, 35) + "...");
    dlg.SetStatusText("Scelta in corso");
    EXPECT_EQ(Text(w, CFolderDialog::kStatusId), "Scelta in corso");
    dlg.EnableOK(0);
    EXPECT_FALSE(ui_.Click(w->GetDlgItem(IDOK)));  // disabled: the click does not land
    ui_.Press(VK_RETURN);                            // opens the folder instead
    EXPECT_EQ(dlg.GetOpenFolder(), P(longer));
    dlg.EnableOK(7);
    EXPECT_TRUE(ui_.Click(w->GetDlgItem(IDOK)));
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.GetPathName().str(), P(longer));

  // A folder removed after it was chosen is no choice.
  CFolderDialog gone("Cartella", P("archivio").c_str(), 0, nullptr);
  ui_.Then([&] {
    ui_.Press(VK_RETURN);
    ui_.Press(VK_DOWN);
    ui_.Press(VK_DOWN);  // anno2024
    std::filesystem::remove(P("archivio/anno2024"));
    ui_.Click(gone.GetBrowserWindow()->GetDlgItem(IDOK));
  });
  EXPECT_EQ(gone.DoModal(), IDCANCEL);
  EXPECT_EQ(gone.GetPathName().str(), P("archivio"));
}

TEST_F(PickerTest, SelectedExtensionOfTheChosenFilter) {
  CVKTFileDialog dlg(TRUE, nullptr, nullptr, 0, "Testo (*.txt)|*.txt|Tutti i file (*.*)|*.*||",
                     nullptr);
  dlg.m_ofn.nFilterIndex = 2;
  EXPECT_EQ(dlg.GetSelectedExt().str(), ".*");
  dlg.m_ofn.nFilterIndex = 1;
  EXPECT_EQ(dlg.GetSelectedExt().str(), ".txt");
  dlg.m_ofn.nFilterIndex = 3;
  EXPECT_EQ(dlg.GetSelectedExt().str(), "");
  dlg.m_ofn.nFilterIndex = 0;
  EXPECT_EQ(dlg.GetSelectedExt().str(), "");
  // The last path element's last dot; none gives nothing.
  CVKTFileDialog odd(TRUE, nullptr, nullptr, 0, "A|dati.v1/*.tar.gz|B|dati.v1\\senza||", nullptr);
  EXPECT_EQ(odd.GetSelectedExt().str(), ".gz");
  odd.m_ofn.nFilterIndex = 2;
  EXPECT_EQ(odd.GetSelectedExt().str(), "");
  CVKTFileDialog none(TRUE, nullptr, nullptr, 0, nullptr, nullptr);
  EXPECT_EQ(none.GetSelectedExt().str(), "");
}

TEST_F(PickerTest, FileOpenListsMatchingFilesAndTakesTheChosenOne) {
  CVKTFileDialog dlg(TRUE, nullptr, nullptr, OFN_FILEMUSTEXIST,
                     "Testo (*.txt)|*.txt|Tutti i file (*.*)|*.*||", nullptr);
  const std::string folder = P("archivio");
  dlg.m_ofn.lpstrInitialDir = folder.c_str();
  ui_.Then([&] {
    CVKTPickerList* list = List(&dlg, CFileDialog::kListId);
    EXPECT_EQ(Text(&dlg, CFileDialog::kFolderId), folder);
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"..", "anno2024", "anno2025", "Bilanci",
                                                      "clienti.txt", "Note.TXT"}));
    // The second file type lists every file.
    ui_.Focus(dlg.GetDlgItem(CFileDialog::kTypeId));
    ui_.Press(VK_DOWN);
    EXPECT_EQ(dlg.m_ofn.nFilterIndex, 2u);
    EXPECT_EQ(Labels(list), (std::vector<std::string>{"..", "anno2024", "anno2025", "Bilanci",
                                                      "clienti.txt", "fatture.csv", "Note.TXT"}));
    ui_.Click(list, list->RowCenter(5));
    EXPECT_EQ(Text(&dlg, CFileDialog::kNameId), "fatture.csv");
    EXPECT_TRUE(vkt::win::SavePng(&dlg, SnapshotPath("file_picker.png")));
    // A name that is not there is refused and the dialog stays.
    ui_.Focus(dlg.GetDlgItem(CFileDialog::kNameId));
    dlg.GetDlgItem(CFileDialog::kNameId)->SetWindowText("");
    ui_.Type("manca.txt");
    ui_.Press(VK_RETURN);
    ASSERT_EQ(ui_.MessageBoxes().size(), 1u);
    EXPECT_EQ(ui_.MessageBoxes()[0].text,
              "manca.txt\nFile non trovato.\nVerificare che il nome del file sia corretto.");
    EXPECT_TRUE(::IsWindow(dlg.m_hWnd));
    ui_.DoubleClick(list, list->RowCenter(5));
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(ui_.stalls(), 0);
  EXPECT_EQ(dlg.GetPathName().str(), P("archivio/fatture.csv"));
  EXPECT_EQ(dlg.GetFileName().str(), "fatture.csv");
  EXPECT_EQ(dlg.GetFileTitle().str(), "fatture");
  EXPECT_EQ(dlg.GetFileExt().str(), "csv");
  EXPECT_EQ(dlg.GetSelectedExt().str(), ".*");

  // A folder typed as the name opens it; Cancel answers 2 and no path.
  CVKTFileDialog again(TRUE, nullptr, nullptr, 0, "Testo (*.txt)|*.txt||", nullptr);
  again.m_ofn.lpstrInitialDir = folder.c_str();
  ui_.Then([&] {
    ui_.Type("anno2025");
    ui_.Press(VK_RETURN);
    EXPECT_EQ(Text(&again, CFileDialog::kFolderId), P("archivio/anno2025"));
    EXPECT_EQ(Text(&again, CFileDialog::kNameId), "");
    ui_.Press(VK_ESCAPE);
  });
  EXPECT_EQ(again.DoModal(), IDCANCEL);
  EXPECT_EQ(again.GetPathName().str(), "");
}

TEST_F(PickerTest, FileSaveAddsTheDefaultExtensionAndAsksBeforeReplacing) {
  CVKTFileDialog dlg(FALSE, "csv", P("archivio/fatture").c_str(), OFN_OVERWRITEPROMPT,
                     "CSV (*.csv)|*.csv||", nullptr);
  ui_.Then([&] {
    EXPECT_EQ(Text(&dlg, CFileDialog::kNameId), "fatture");
    EXPECT_EQ(dlg.GetDlgItem(IDOK)->GetWindowTextString().str(), "Salva");
    ui_.Answer(IDNO);
    ui_.Press(VK_RETURN);
    ASSERT_EQ(ui_.MessageBoxes().size(), 1u);
    EXPECT_EQ(ui_.MessageBoxes()[0].text, "fatture.csv esiste gi\xE0.\nSostituirlo?");
    EXPECT_EQ(ui_.MessageBoxes()[0].type, MB_YESNO | MB_ICONEXCLAMATION);
    dlg.GetDlgItem(CFileDialog::kNameId)->SetWindowText("");
    ui_.Focus(dlg.GetDlgItem(CFileDialog::kNameId));
    ui_.Type("nuove");
    ui_.Press(VK_RETURN);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.GetPathName().str(), P("archivio/nuove.csv"));
  EXPECT_EQ(ui_.MessageBoxes().size(), 1u);

  CVKTFileDialog replace(FALSE, "csv", P("archivio/fatture").c_str(), OFN_OVERWRITEPROMPT,
                         "CSV (*.csv)|*.csv||", nullptr);
  ui_.Then([&] {
    ui_.Answer(IDYES);
    ui_.Press(VK_RETURN);
  });
  EXPECT_EQ(replace.DoModal(), IDOK);
  EXPECT_EQ(replace.GetPathName().str(), P("archivio/fatture.csv"));
}

}  // namespace
