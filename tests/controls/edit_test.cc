// The text field and its base, typed into through the driver.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "common/checks.h"
#include "controls/vktedit.h"
#include "form.h"
#include "win/canvas.h"

namespace {

using vkt::test::FormTest;
using vkt::win::kCtrl;
using vkt::win::kShift;

class EditTest : public FormTest {};

TEST_F(EditTest, FormatLanguageAppliesWhenTheFieldIsLeft) {
  struct Case {
    short len;
    const char* format;
    const char* typed;
    const char* shown;
  };
  const Case cases[] = {
      {10, "<!_", "  abc  ", "abc"},
      {10, ">", "abc", "       abc"},
      {7, "^", "ab", "  ab   "},
      {20, "P", "mARIO rossi", "Mario Rossi"},
      {20, "!P", "mARIO rossi", "mARIO rOSSI"},
      {20, "!", "a B", "a B"},
      {20, "xyz!", "a B", "a B"},
      {20, "U<!_", " perch\xE9 ", "PERCH\xC9"},  // accented letters change case too
      {20, "c", "12 34-56.7", "1234567"},
      {20, "lU", "AbC", "ABC"},  // the last setting of a kind wins
      {20, "U!U", "AbC", "abc"},
      {6, "_", "ab", "ab    "},
  };
  for (const Case& c : cases) {
    CVKTEdit field;
    Attach(field, 1001);
    field.SetFormat(c.len, c.format, nullptr, nullptr);
    ui_.Focus(&field);
    ui_.Type(c.typed);
    ui_.Press(VK_TAB);
    EXPECT_EQ(Text(field), c.shown) << "format " << c.format;
    field.UnsubclassWindow();
    Item(1001)->SetWindowText("");
  }
}

TEST_F(EditTest, FilterRefusesCharactersAndClipboardTextButBackspacePasses) {
  CVKTEdit cap;
  Attach(cap, 1001);
  cap.SetFormat(5, "<!_", filter_digit, nullptr);
  ui_.Focus(&cap);
  ui_.Type("1a2");
  EXPECT_EQ(Text(cap), "12");
  ui_.Press(VK_BACK);
  EXPECT_EQ(Text(cap), "1");
  fake_.SetClipboardText("12a");
  ui_.Press('V', kCtrl);
  EXPECT_EQ(Text(cap), "1");
  EXPECT_FALSE(cap.CanPaste());
  fake_.SetClipboardText("23");
  EXPECT_TRUE(cap.CanPaste());
  ui_.Press(VK_INSERT, kShift);  // pasted once, not twice
  EXPECT_EQ(Text(cap), "123");
  ui_.Press('V', kCtrl);
  EXPECT_EQ(Text(cap), "12323");
  ui_.Press('V', kCtrl);  // the field is full: cut at its length
  EXPECT_EQ(Text(cap), "12323");
  // A filter that takes control characters does not paste twice either.
  CVKTEdit note;
  Attach(note, 1002);
  note.SetFormat(20, "", filter_space, nullptr);
  ui_.Focus(&note);
  fake_.SetClipboardText("ab");
  ui_.Press('V', kCtrl);
  EXPECT_EQ(Text(note), "ab");
}

TEST_F(EditTest, FailedCheckAsksAndYesTakesTheFocusBack) {
  CVKTEdit cf, next;
  Attach(cf, 1001);
  Attach(next, 1002);
  cf.SetFormat(16, "U<!_", filter_space, CheckCodFiscale);
  next.SetFormat(10, "", nullptr, nullptr);
  ui_.Focus(&cf);
  ui_.Type("bbbccc90b02a000n ");  // wrong check character; blank refused
  ui_.Answer(IDYES);
  ui_.Press(VK_RETURN);  // Enter moves to the next field, which runs the check
  ASSERT_EQ(ui_.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui_.MessageBoxes()[0].text, "Input non valido !\n\nVuoi Correggere ?");
  EXPECT_EQ(ui_.MessageBoxes()[0].type, MB_YESNO | MB_ICONQUESTION);
  EXPECT_EQ(CWnd::GetFocus(), &cf);  // back in the field after the posted message
  EXPECT_EQ(Text(cf), "BBBCCC90B02A000N");  // the check saw the formatted text
  // Corrected, it passes.
  ui_.Press(VK_END);
  ui_.Press(VK_BACK);
  ui_.Type("m");
  ui_.Press(VK_TAB);
  EXPECT_EQ(ui_.MessageBoxes().size(), 1u);
  EXPECT_EQ(CWnd::GetFocus(), &next);
  EXPECT_EQ(Text(cf), "BBBCCC90B02A000M");
  // No: the invalid text stays, formatted, and the focus moves on.
  ui_.Focus(&cf);
  ui_.Type("x");
  ui_.Answer(IDNO);
  ui_.Press(VK_TAB);
  EXPECT_EQ(ui_.MessageBoxes().size(), 2u);
  EXPECT_EQ(CWnd::GetFocus(), &next);
  EXPECT_EQ(Text(cf), "X");
}

TEST_F(EditTest, AnUnformattedFieldRemindsToCallSetFormat) {
  CVKTEdit field;
  Attach(field, 1001);
  field.SetFormat(-5, "<", nullptr, nullptr);  // a negative length is no length
  EXPECT_EQ(field.GetMaxLen(), 0u);
  ui_.Focus(&field);
  ui_.Press(VK_TAB);
  ASSERT_EQ(ui_.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui_.MessageBoxes()[0].text, "m_max_len=0 - Usare SetFormat()");
  EXPECT_EQ(ui_.MessageBoxes()[0].type, MB_OK);
}

TEST_F(EditTest, SetTextIsCutAtTheLengthAndGetTextNeverWritesPastTheBuffer) {
  CVKTEdit field;
  Attach(field, 1001);
  field.SetFormat(5, "", nullptr, nullptr);
  field.SetText("abcdefghij");
  EXPECT_EQ(Text(field), "abcde");
  Item(1001)->SetWindowText("  xyz0123456789");  // longer text put in behind the field's back
  char buf[5 + 1 + 4];
  std::memset(buf, '#', sizeof buf);
  field.GetText(buf);
  EXPECT_STREQ(buf, "xyz01");
  EXPECT_EQ(std::string(buf + 6, 4), "####");
  EXPECT_EQ(field.GetText(), CString("  xyz0123456789"));  // no format: untouched
  // Formatting works in a buffer of the field's length: a longer text is
  // cut there, never written past it.
  CVKTEdit upper;
  Attach(upper, 1002);
  upper.SetFormat(5, "U<!_", nullptr, nullptr);
  Item(1002)->SetWindowText("  abcdefghij");
  EXPECT_EQ(upper.GetText(), CString("ABC"));
  CVKTEdit wide;
  Attach(wide, 1003);
  wide.SetFormat(4, ">", nullptr, nullptr);
  wide.SetText("abcdefgh");
  EXPECT_EQ(wide.GetText(), CString("abcd"));
  Item(1003)->SetWindowText("xy");
  EXPECT_EQ(wide.GetText(), CString("  xy"));
}

TEST_F(EditTest, NotificationsCanBeSuppressedAndModifiedCountsPaste) {
  CVKTEdit field;
  Attach(field, 1001);
  field.SetFormat(20, "", nullptr, nullptr);
  field.SetWindowText("uno");
  EXPECT_EQ(dlg_.Count(1001, EN_CHANGE), 1);
  field.SetWindowTextNoNotify("uno");  // same text: the window is not touched
  field.SetWindowTextNoNotify("due");
  EXPECT_EQ(dlg_.Count(1001, EN_CHANGE), 1);
  EXPECT_EQ(Text(field), "due");
  EXPECT_EQ(field.GetNotify(), 1);
  EXPECT_EQ(field.GetModified(), 0);
  fake_.SetClipboardText("tre");
  field.SendMessage(WM_PASTE);  // the context menu's paste
  EXPECT_EQ(field.GetModified(), 1);
  field.SetModified(0);
  EXPECT_EQ(field.GetModified(), 0);
}

TEST_F(EditTest, EnterAndArrowsMoveBetweenFieldsUnlessSwitchedOff) {
  CVKTEdit a, b, c;
  Attach(a, 1001);
  Attach(b, 1002);
  Attach(c, 1003);
  for (CVKTEdit* f : {&a, &b, &c}) f->SetFormat(10, "", nullptr, nullptr);
  ui_.Focus(&a);
  ui_.Press(VK_RETURN);
  EXPECT_EQ(CWnd::GetFocus(), &b);
  ui_.Press(VK_DOWN);
  EXPECT_EQ(CWnd::GetFocus(), &c);
  ui_.Press(VK_UP);
  EXPECT_EQ(CWnd::GetFocus(), &b);
  EXPECT_EQ(dlg_.Count(IDOK, CN_COMMAND), 0);
  b.SetAutoUpDownEnter(0);
  ui_.Press(VK_RETURN);  // the dialog's own handling: the default button
  EXPECT_EQ(dlg_.Count(IDOK, CN_COMMAND), 1);
}

TEST_F(EditTest, MaskedFieldTakesDigitsAtMaskPositionsOnly) {
  CVKTEdit cap;
  Attach(cap, 1001);
  cap.SetFormat("00/00", "", "__/__", '_');
  EXPECT_EQ(cap.GetMaxLen(), 5u);
  EXPECT_EQ(Text(cap), "__/__");
  ui_.Focus(&cap);
  ui_.Press(VK_HOME);
  ui_.Type("1x2");
  EXPECT_EQ(Text(cap), "12/__");
  ui_.Type("03");
  EXPECT_EQ(Text(cap), "12/03");
  ui_.Press(VK_BACK);
  EXPECT_EQ(cap.GetText(), CString("12/0"));  // prompts removed
  cap.SetText("0745");
  EXPECT_EQ(Text(cap), "07/45");
}

TEST_F(EditTest, FontSettersDeriveFromTheCurrentFontAndDoNothingWithoutOne) {
  CVKTEdit field;
  Attach(field, 1001);
  size_t objects = vkt::win::LiveGdiObjects();
  field.SetBold(1);
  LOGFONT lf;
  ASSERT_TRUE(field.GetFont()->GetLogFont(&lf));
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  field.SetBold(2);
  ASSERT_TRUE(field.GetFont()->GetLogFont(&lf));
  EXPECT_EQ(lf.lfWeight, FW_NORMAL);
  field.SetItalic(1);
  field.SetUnderline(1);
  ASSERT_TRUE(field.GetFont()->GetLogFont(&lf));
  EXPECT_TRUE(lf.lfItalic && lf.lfUnderline);
  EXPECT_EQ(lf.lfWeight, FW_NORMAL);
  EXPECT_EQ(vkt::win::LiveGdiObjects(), objects + 1);  // one owned font, replaced each time
  // A control with no font: nothing happens, nothing breaks.
  CVKTEdit bare;
  ASSERT_TRUE(bare.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 50, 20), &dlg_, 2000));
  bare.SetFont(static_cast<HFONT>(nullptr), FALSE);
  bare.SetItalic(1);
  bare.SetFontWeight(900);
  bare.SetBold(1);
  EXPECT_EQ(bare.GetFont(), nullptr);
}

TEST_F(EditTest, FieldsPaintTheirOwnColoursAndTheHighlightWhileFocused) {
  CVKTEdit a, b;
  Attach(a, 1001);
  Attach(b, 1002);
  a.SetFormat(10, "", nullptr, nullptr);
  b.SetFormat(10, "", nullptr, nullptr);
  b.SetBackColor(RGB(255, 255, 200));
  ui_.Focus(&a);
  // Field 1001 at client (130, 8), field 1002 at (130, 34); client origin (1, 25).
  vkt::win::Image img = vkt::win::Render(&dlg_);
  // The focused field shows the highlight colour (its text is all
  // selected, so look at the part past the text).
  EXPECT_EQ(img.At(1 + 300, 25 + 18), kVktHighlightColor);
  EXPECT_EQ(img.At(1 + 300, 25 + 45), RGB(255, 255, 200));
  // Disabled through SetEnabled: the style bit, the field's own colours.
  b.SetEnabled(0);
  EXPECT_FALSE(b.IsWindowEnabled());
  EXPECT_EQ(b.GetEnabled(), 0);
  img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 300, 25 + 45), RGB(255, 255, 200));
  b.SetEnabled(1);
  EXPECT_EQ(b.GetEnabled(), 1);
}

TEST_F(EditTest, PastedTextLosesControlCharactersAndStaysWithinTheField) {
  CVKTEdit cap;
  Attach(cap, 1001);
  cap.SetFormat(5, "", filter_digit, nullptr);
  ui_.Focus(&cap);
  // Line ends and tabs from a spreadsheet cell are not the filter's business.
  fake_.SetClipboardText("12\r\n3\t");
  EXPECT_TRUE(cap.CanPaste());
  ui_.Press('V', kCtrl);
  EXPECT_EQ(Text(cap), "123");
  fake_.SetClipboardText("4567890\n");
  ui_.Press(VK_INSERT, kShift);
  EXPECT_EQ(Text(cap), "12345");  // cut at the length
  ui_.Press(VK_HOME);
  fake_.SetClipboardText("9\x01x");  // a refused letter still refuses the whole paste
  EXPECT_FALSE(cap.CanPaste());
  ui_.Press('V', kCtrl);
  EXPECT_EQ(Text(cap), "12345");
  cap.SendMessage(WM_PASTE);  // the menu's paste: the same filter decides
  EXPECT_EQ(Text(cap), "12345");
  fake_.SetClipboardAvailable(false);  // a clipboard that cannot be opened
  EXPECT_FALSE(cap.CanPaste());
  // A masked field keeps to its positions.
  CVKTEdit masked;
  Attach(masked, 1002);
  masked.SetFormat("00/00", "", "__/__", '_');
  fake_.SetClipboardAvailable(true);
  fake_.SetClipboardText("1\r\n2345678");
  ui_.Focus(&masked);
  ui_.Press('V', kCtrl);
  EXPECT_EQ(Text(masked), "12/34");
  // Without a filter: controls dropped, cut at the length, never beyond.
  CVKTEdit note;
  Attach(note, 1003);
  note.SetFormat(8, "", nullptr, nullptr);
  fake_.SetClipboardText("ab\tcd\r\nefghijkl");
  ui_.Focus(&note);
  ui_.Press('V', kCtrl);
  EXPECT_EQ(Text(note), "abcdefgh");
  char buf[9];
  note.GetText(buf);
  EXPECT_STREQ(buf, "abcdefgh");
}

// The characters a filter was asked about.
std::vector<unsigned int>& Asked() {
  static std::vector<unsigned int> asked;
  return asked;
}

TEST_F(EditTest, BytesAbove127AreLettersAndOnlyTheFieldsFilterRefusesThem) {
  CVKTEdit plain;
  Attach(plain, 1001);
  plain.SetFormat(20, "U", nullptr, nullptr);
  ui_.Focus(&plain);
  ui_.Type("citt\xE0 \xE8\xEC\xF2\xF9");
  EXPECT_EQ(Text(plain), "citt\xE0 \xE8\xEC\xF2\xF9");
  ui_.Press(VK_TAB);
  EXPECT_EQ(Text(plain), "CITT\xC0 \xC8\xCC\xD2\xD9");
  // A filter sees the byte as its Windows-1252 code (224 for "\xE0"), and
  // it alone decides: this one refuses "\xE8".
  Asked().clear();
  CVKTEdit picky;
  Attach(picky, 1002);
  picky.SetFormat(20, "", [](unsigned int c) {
    Asked().push_back(c);
    return c != 0xE8;
  });
  ui_.Focus(&picky);
  ui_.Type("perch\xE8 citt\xE0");
  EXPECT_EQ(Text(picky), "perch citt\xE0");
  EXPECT_NE(std::find(Asked().begin(), Asked().end(), 0xE0u), Asked().end());
  for (unsigned int c : Asked()) EXPECT_LT(c, 256u);
  // A letter mask takes accented letters but not the signs among them.
  CVKTEdit initials;
  Attach(initials, 1003);
  initials.SetFormat("LLL", "", "___", '_');
  ui_.Focus(&initials);
  ui_.Press(VK_HOME);
  ui_.Type("\xC8\xD7" "b");
  EXPECT_EQ(Text(initials), "\xC8" "b_");
}

TEST_F(EditTest, AMaskLongerThanALengthCanCountLeavesTheFieldUnformatted) {
  CVKTEdit field;
  Attach(field, 1001);
  std::string mask(40000, '0');
  field.SetFormat(mask.c_str(), "<", std::string(40000, '_').c_str(), '_');
  EXPECT_EQ(field.GetMaxLen(), 0u);
  ui_.Focus(&field);
  ui_.Press(VK_TAB);
  ASSERT_EQ(ui_.MessageBoxes().size(), 1u);
  EXPECT_EQ(ui_.MessageBoxes()[0].text, "m_max_len=0 - Usare SetFormat()");
}

TEST_F(EditTest, TheBasesStateColoursAndFontAttributes) {
  CVKTEdit field;
  EXPECT_EQ(field.GetBackColor(), 0xFFFFFFu);
  EXPECT_EQ(field.GetForeColor(), 0u);
  EXPECT_EQ(field.GetModified(), 0);
  EXPECT_EQ(field.GetNotify(), 1);
  EXPECT_EQ(field.GetAutoUpDownEnter(), 1);
  field.SetEnabled(0);  // no window: nothing
  Attach(field, 1001);
  field.SetFormat(10, "", nullptr, nullptr);
  EXPECT_EQ(field.GetReadOnly(), 0);
  field.SendMessage(EM_SETREADONLY, TRUE, 0);
  EXPECT_EQ(field.GetReadOnly(), 1);
  field.SendMessage(EM_SETREADONLY, FALSE, 0);
  // The text colour repaints at once; the background waits for the next paint.
  int before = vkt::win::InvalidationCount(field.m_hWnd);
  field.SetBackColor(RGB(200, 255, 200));
  EXPECT_EQ(vkt::win::InvalidationCount(field.m_hWnd), before);
  field.SetForeColor(RGB(160, 0, 0));
  EXPECT_GT(vkt::win::InvalidationCount(field.m_hWnd), before);
  EXPECT_EQ(field.GetForeColor(), RGB(160, 0, 0));
  field.SetText("Rossi");
  vkt::win::Image img = vkt::win::Render(&dlg_);
  EXPECT_EQ(img.At(1 + 300, 25 + 18), RGB(200, 255, 200));
  int red = 0;
  for (int x = 131; x < 200; ++x)
    for (int y = 25 + 10; y < 25 + 28; ++y)
      if (GetRValue(img.At(x, y)) > 120 && GetGValue(img.At(x, y)) < 90) ++red;
  EXPECT_GT(red, 10);  // the text in the field's own colour
  // Font attributes, each on top of the others.
  field.SetFontWeight(600);
  field.SetStrikeOut(1);
  LOGFONT lf;
  ASSERT_TRUE(field.GetFont()->GetLogFont(&lf));
  EXPECT_EQ(lf.lfWeight, 600);
  EXPECT_TRUE(lf.lfStrikeOut);
  field.SetStrikeOut(0);
  ASSERT_TRUE(field.GetFont()->GetLogFont(&lf));
  EXPECT_FALSE(lf.lfStrikeOut);
  EXPECT_EQ(lf.lfWeight, 600);
  // SetBold without a current font puts the owned one back.
  field.SetFont(static_cast<HFONT>(nullptr), FALSE);
  field.SetBold(1);
  ASSERT_NE(field.GetFont(), nullptr);
  ASSERT_TRUE(field.GetFont()->GetLogFont(&lf));
  EXPECT_EQ(lf.lfWeight, 600);
  // Disabling sets the style bit; enabling clears it.
  field.SetEnabled(0);
  EXPECT_EQ(field.GetEnabled(), 0);
  EXPECT_TRUE(field.GetStyle() & WS_DISABLED);
  field.SetEnabled(0);
  field.SetEnabled(1);
  EXPECT_FALSE(field.GetStyle() & WS_DISABLED);
}

TEST_F(EditTest, TwoInvalidFieldsDoNotSendTheFocusBackAndForth) {
  CVKTEdit a, b;
  Attach(a, 1001);
  Attach(b, 1002);
  a.SetFormat(16, "", nullptr, CheckCodFiscale);
  b.SetFormat(16, "", nullptr, CheckCodFiscale);
  a.SetText("BBBCCC90B02A000N");  // both wrong, as read from an old record
  b.SetText("BBBCCC90B02A000N");
  ui_.Focus(&a);
  ui_.Press(VK_TAB);  // no answer scripted: "Yes", as a silent host answers
  // One question, about the field the user left; the field the focus only
  // passed through is asked about when the user leaves it.
  ASSERT_EQ(ui_.MessageBoxes().size(), 1u);
  EXPECT_EQ(CWnd::GetFocus(), &a);
  EXPECT_EQ(vkt::win::QueuedMessages(), 0u);
  ui_.Answer(IDNO);
  ui_.Press(VK_TAB);
  EXPECT_EQ(ui_.MessageBoxes().size(), 2u);
  EXPECT_EQ(CWnd::GetFocus(), &b);
  ui_.Answer(IDYES);
  ui_.Press(VK_TAB);
  EXPECT_EQ(ui_.MessageBoxes().size(), 3u);
  EXPECT_EQ(CWnd::GetFocus(), &b);
  EXPECT_EQ(Text(a), "BBBCCC90B02A000N");
}

}  // namespace
