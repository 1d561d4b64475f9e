// The JSON document: paths, building in order, output layouts, views.
#include "engine/json.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

TEST(JsonTest, ReadsValuesByPath) {
  CkJsonObject json;
  ASSERT_TRUE(json.Load(R"({"type": 5, "type_desc": "ERR", "flag": true, "none": null,
      "ratio": 2.5, "big": 9999999999, "neg": -7,
      "user_list": ["a", "b"], "a": {"b": [{"c": "deep"}, [10, 20]]}})"));
  EXPECT_EQ(json.IntOf("type"), 5);
  EXPECT_EQ(json.StringOf("type_desc"), "ERR");
  EXPECT_TRUE(json.BoolOf("flag"));
  EXPECT_EQ(json.IntOf("neg"), -7);
  EXPECT_EQ(json.StringOf("type"), "5");
  EXPECT_EQ(json.StringOf("flag"), "true");
  EXPECT_DOUBLE_EQ(json.DoubleOf("ratio"), 2.5);
  EXPECT_EQ(json.StringOf("user_list[1]"), "b");
  EXPECT_EQ(json.StringOf("a.b[0].c"), "deep");
  EXPECT_EQ(json.IntOf("a.b[1][1]"), 20);
  EXPECT_EQ(json.SizeOfArray("user_list"), 2);
  EXPECT_EQ(json.SizeOfArray("a.b[1]"), 2);

  // Missing, null and mistyped values.
  EXPECT_FALSE(json.HasMember("nothing"));
  EXPECT_TRUE(json.HasMember("none"));
  EXPECT_TRUE(json.IsNullOf("none"));
  EXPECT_FALSE(json.IsNullOf("nothing"));
  EXPECT_FALSE(json.IsNullOf("type"));
  EXPECT_EQ(json.StringOf("none"), "");
  EXPECT_EQ(json.StringOf("a"), "");
  EXPECT_EQ(json.IntOf("nothing"), -1);
  EXPECT_EQ(json.IntOf("type_desc"), -1);
  EXPECT_EQ(json.IntOf("ratio"), -1);
  EXPECT_EQ(json.IntOf("big"), -1);  // does not fit
  EXPECT_FALSE(json.BoolOf("type"));
  EXPECT_EQ(json.SizeOfArray("type"), -1);
  EXPECT_EQ(json.StringOf("user_list[2]"), "");
  EXPECT_EQ(json.StringOf("type.x"), "");
  // Malformed paths find nothing.
  for (const char* bad : {"", ".", "a.", "a..b", "a[", "a[]", "a[x]", "a]b", "[0]", "a.b[0]x"}) {
    EXPECT_FALSE(json.HasMember(bad)) << bad;
  }
}

TEST(JsonTest, LoadRefusesWhatIsNotOneObject) {
  CkJsonObject json;
  ASSERT_TRUE(json.Load(R"({"keep": 1})"));
  EXPECT_FALSE(json.Load("{\"a\": "));
  EXPECT_FALSE(json.LastErrorText().empty());
  EXPECT_FALSE(json.Load("[1, 2]"));
  EXPECT_FALSE(json.Load("{\"a\": \"\xE9\"}"));  // not UTF-8
  EXPECT_EQ(json.IntOf("keep"), 1);             // content kept
  // Nesting deep enough to threaten the stack is refused.
  std::string deep = "{\"a\":" + std::string(2000, '[') + std::string(2000, ']') + "}";
  EXPECT_FALSE(json.Load(deep));
  std::string fine = "{\"a\":" + std::string(100, '[') + std::string(100, ']') + "}";
  EXPECT_TRUE(json.Load(fine));
  EXPECT_FALSE(json.HasMember("keep"));
}

// The export document: members in insertion order, numbers as written, the
// record count set by position, indented CR-LF output.
TEST(JsonTest, BuildsDocumentsInOrder) {
  CkJsonObject json;
  ASSERT_TRUE(json.AddStringAt(-1, "description", "Clienti"));
  ASSERT_TRUE(json.AddStringAt(-1, "table", "CLIENTI"));
  ASSERT_TRUE(json.AddIntAt(-1, "records", 0));
  ASSERT_TRUE(json.AddArrayAt(-1, "data"));
  auto data = json.ArrayOf("data");
  ASSERT_NE(data, nullptr);
  for (int i = 0; i < 2; ++i) {
    auto rec = data->AppendObject();
    ASSERT_NE(rec, nullptr);
    EXPECT_TRUE(rec->AddIntAt(-1, "id", i + 1));
    EXPECT_TRUE(rec->AddNumberAt(-1, "price", i == 0 ? "1.500000" : "-0.250000"));
    EXPECT_TRUE(rec->AddStringAt(-1, "note", "a\\\\b"));
    EXPECT_TRUE(rec->AddNullAt(-1, "when"));
  }
  EXPECT_TRUE(json.SetIntAt(2, 2));
  EXPECT_EQ(json.NameAt(2), "records");
  EXPECT_EQ(json.IndexOf("data"), 3);
  EXPECT_EQ(json.get_Size(), 4);

  EXPECT_EQ(json.Emit(),
            R"({"description":"Clienti","table":"CLIENTI","records":2,"data":[)"
            R"({"id":1,"price":1.500000,"note":"a\\\\b","when":null},)"
            R"({"id":2,"price":-0.250000,"note":"a\\\\b","when":null}]})");
  json.put_EmitCompact(false);
  EXPECT_TRUE(json.get_EmitCrLf());
  auto first = json.ObjectOf("data[0]");
  ASSERT_NE(first, nullptr);
  first->put_EmitCompact(false);
  EXPECT_EQ(first->Emit(),
            "{\r\n  \"id\": 1,\r\n  \"price\": 1.500000,\r\n  \"note\": \"a\\\\\\\\b\",\r\n"
            "  \"when\": null\r\n}\r\n");
  json.put_EmitCrLf(false);
  CkJsonObject small;
  small.put_EmitCompact(false);
  small.put_EmitCrLf(false);
  small.AddArrayAt(-1, "empty");
  small.AddObjectAt(-1, "none");
  small.UpdateInt("list[0]", 1);
  EXPECT_EQ(small.Emit(), "{\n  \"empty\": [],\n  \"none\": {},\n  \"list\": [\n    1\n  ]\n}\n");

  // Numbers read back from their text.
  EXPECT_DOUBLE_EQ(json.DoubleOf("data[1].price"), -0.25);
  EXPECT_EQ(json.StringOf("data[0].price"), "1.500000");
  EXPECT_EQ(json.IntOf("data[1].id"), 2);
  // The emitted text is a document again.
  CkJsonObject again;
  ASSERT_TRUE(again.Load(json.Emit()));
  EXPECT_EQ(again.IntOf("records"), 2);
  EXPECT_DOUBLE_EQ(again.DoubleOf("data[0].price"), 1.5);
  EXPECT_EQ(again.StringOf("data[0].note"), "a\\\\b");
}

TEST(JsonTest, RefusesBadMembers) {
  CkJsonObject json;
  EXPECT_TRUE(json.AddIntAt(-1, "a", 1));
  EXPECT_FALSE(json.AddIntAt(-1, "a", 2));  // already a member
  EXPECT_EQ(json.IntOf("a"), 1);
  EXPECT_FALSE(json.AddIntAt(5, "b", 2));   // past the end
  EXPECT_FALSE(json.AddIntAt(-2, "b", 2));
  EXPECT_FALSE(json.AddIntAt(-1, "", 2));
  for (const char* bad : {"nan", "inf", "1.", ".5", "01", "1e", "--1", "", "1 "}) {
    EXPECT_FALSE(json.AddNumberAt(-1, "n", bad)) << bad;
  }
  EXPECT_TRUE(json.AddNumberAt(-1, "n", "-0.5e+3"));
  EXPECT_FALSE(json.SetIntAt(7, 1));
  EXPECT_FALSE(json.SetNumberAt(0, "x"));
  EXPECT_EQ(json.AppendObject("a"), nullptr);
  // Insert before a position.
  EXPECT_TRUE(json.AddStringAt(0, "first", "x"));
  EXPECT_EQ(json.NameAt(0), "first");
  EXPECT_EQ(json.NameAt(1), "a");
  EXPECT_EQ(json.NameAt(9), "");
  EXPECT_TRUE(json.Delete("first"));
  EXPECT_FALSE(json.Delete("first"));
  EXPECT_EQ(json.Emit(), R"({"a":1,"n":-0.5e+3})");
}

TEST(JsonTest, UpdatesCreateTheirPathOrChangeNothing) {
  CkJsonObject json;
  EXPECT_TRUE(json.UpdateString("a.b[0].c", "x"));
  EXPECT_TRUE(json.UpdateInt("a.b[1]", 7));
  EXPECT_TRUE(json.UpdateBool("flag", true));
  EXPECT_TRUE(json.UpdateNull("a.gone"));
  EXPECT_TRUE(json.UpdateNumber("m[0][0]", "3.000"));
  EXPECT_EQ(json.Emit(), R"({"a":{"b":[{"c":"x"},7],"gone":null},"flag":true,"m":[[3.000]]})");
  EXPECT_TRUE(json.UpdateString("a.b[1]", "replaced"));
  EXPECT_EQ(json.StringOf("a.b[1]"), "replaced");

  const std::string before = json.Emit();
  EXPECT_FALSE(json.UpdateInt("a.b[5]", 1));         // skips indices
  EXPECT_FALSE(json.UpdateInt("a.b.c", 1));          // b is an array
  EXPECT_FALSE(json.UpdateInt("flag.x", 1));         // flag is a boolean
  EXPECT_FALSE(json.UpdateInt("new.list[3].x", 1));  // a new array starts at 0
  EXPECT_FALSE(json.UpdateInt("a..b", 1));
  EXPECT_FALSE(json.UpdateNumber("n", "1,5"));
  EXPECT_EQ(json.Emit(), before);  // nothing half made
}

TEST(JsonTest, StringsAreEscapedAndUtf8PassesThrough) {
  CkJsonObject json;
  const std::string text = "q\"b\\s/\n\r\t\b\f\x01 perch\xC3\xA9";
  ASSERT_TRUE(json.AddStringAt(-1, "t", text));
  EXPECT_EQ(json.Emit(), "{\"t\":\"q\\\"b\\\\s/\\n\\r\\t\\b\\f\\u0001 perch\xC3\xA9\"}");
  CkJsonObject back;
  ASSERT_TRUE(back.Load(json.Emit()));
  EXPECT_EQ(back.StringOf("t"), text);
  ASSERT_TRUE(back.Load(R"({"u": "\u00e8\u20ac"})"));
  EXPECT_EQ(back.StringOf("u"), "\xC3\xA8\xE2\x82\xAC");
}

TEST(JsonTest, ViewsShareTheDocumentAndSurviveItsChanges) {
  CkJsonObject json;
  ASSERT_TRUE(json.Load(R"({"user_list": ["a", "b"], "inner": {"n": 1}})"));
  auto list = json.ArrayOf("user_list");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(list->get_Size(), 2);
  EXPECT_EQ(list->StringAt(0), "a");
  EXPECT_EQ(list->StringAt(1), "b");
  EXPECT_EQ(list->StringAt(2), "");
  EXPECT_EQ(list->IntAt(0), -1);
  EXPECT_TRUE(list->AddStringAt(-1, "c"));
  EXPECT_TRUE(list->AddIntAt(0, 9));
  EXPECT_EQ(json.SizeOfArray("user_list"), 4);
  EXPECT_EQ(json.IntOf("user_list[0]"), 9);
  EXPECT_TRUE(list->DeleteAt(0));
  EXPECT_FALSE(list->DeleteAt(3));
  EXPECT_EQ(list->Emit(), R"(["a","b","c"])");

  auto inner = json.ObjectOf("inner");
  ASSERT_NE(inner, nullptr);
  EXPECT_TRUE(inner->UpdateInt("n", 2));
  EXPECT_EQ(json.IntOf("inner.n"), 2);
  EXPECT_EQ(json.ObjectOf("user_list"), nullptr);  // not an object
  EXPECT_EQ(json.ArrayOf("inner"), nullptr);
  EXPECT_EQ(json.ArrayOf("missing"), nullptr);
  EXPECT_NE(json.ObjectAt(1), nullptr);
  EXPECT_NE(json.ArrayAt(0), nullptr);
  EXPECT_EQ(json.ArrayAt(1), nullptr);

  // The places go away: the views answer nothing and refuse changes.
  EXPECT_TRUE(json.Delete("user_list"));
  json.Clear();
  EXPECT_EQ(list->get_Size(), 0);
  EXPECT_EQ(list->StringAt(0), "");
  EXPECT_FALSE(list->AddStringAt(-1, "x"));
  EXPECT_EQ(list->AppendObject(), nullptr);
  EXPECT_EQ(list->Emit(), "");
  EXPECT_FALSE(inner->UpdateInt("n", 3));
  EXPECT_FALSE(inner->HasMember("n"));
  EXPECT_EQ(json.Emit(), "{}");

  // A view outlives its document's first owner.
  std::unique_ptr<CkJsonObject> kept;
  {
    CkJsonObject temp;
    temp.UpdateString("x.y", "z");
    kept = temp.ObjectOf("x");
  }
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(kept->StringOf("y"), "z");

  // Moving hands the document over.
  CkJsonObject moved(std::move(*kept));
  EXPECT_EQ(moved.StringOf("y"), "z");
}

TEST(JsonTest, StandaloneArrays) {
  CkJsonArray arr;
  EXPECT_TRUE(arr.Load(R"([1, "two", null, true, {"k": [3]}])"));
  EXPECT_EQ(arr.get_Size(), 5);
  EXPECT_EQ(arr.IntAt(0), 1);
  EXPECT_EQ(arr.StringAt(1), "two");
  EXPECT_TRUE(arr.IsNullAt(2));
  EXPECT_TRUE(arr.BoolAt(3));
  auto obj = arr.ObjectAt(4);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->IntOf("k[0]"), 3);
  EXPECT_FALSE(arr.Load(R"({"a": 1})"));
  auto sub = arr.AppendArray();
  ASSERT_NE(sub, nullptr);
  EXPECT_TRUE(sub->AddNumberAt(-1, "2.50"));
  EXPECT_TRUE(sub->AddBoolAt(-1, false));
  EXPECT_EQ(arr.Emit(), R"([1,"two",null,true,{"k":[3]},[2.50,false]])");
  arr.Clear();
  EXPECT_EQ(arr.Emit(), "[]");
}

TEST(JsonTest, WritesUtf8Files) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vkt_json_" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "OUT.JSON").string();

  CkJsonObject json;
  json.AddStringAt(-1, "citt\xC3\xA0", "\xE2\x82\xAC");
  CkStringBuilder sb;
  ASSERT_TRUE(json.EmitSb(sb));
  ASSERT_TRUE(sb.WriteFile(path, "utf-8", false));
  auto read = [](const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  };
  EXPECT_EQ(read(path), "{\"citt\xC3\xA0\":\"\xE2\x82\xAC\"}");
  ASSERT_TRUE(sb.WriteFile(path, "UTF-8", true));  // replaces the file
  EXPECT_EQ(read(path), "\xEF\xBB\xBF{\"citt\xC3\xA0\":\"\xE2\x82\xAC\"}");

  EXPECT_FALSE(sb.WriteFile(path, "ebcdic", false));
  EXPECT_FALSE(sb.LastErrorText().empty());
  EXPECT_FALSE(sb.WriteFile((dir / "no" / "such" / "dir.json").string(), "utf-8", false));
  std::filesystem::remove_all(dir);
}

}  // namespace
