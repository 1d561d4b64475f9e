// The service error document: fields, defaults, no carry-over between calls,
// and the copy in the log folder.
#include "services/response.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "frame/vktapp.h"

namespace {

namespace fs = std::filesystem;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class ResponseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "vkt-resp-XXXXXX").string();
    dir_ = mkdtemp(tmpl.data());
    fs::create_directory(dir_ / "log");
    std::memset(&par_, 0, sizeof par_);
    std::strncpy(par_.path, dir_.c_str(), sizeof par_.path - 1);
    saved_ = vktpar;
    vktpar = &par_;
  }
  void TearDown() override {
    vktpar = saved_;
    fs::remove_all(dir_);
  }
  fs::path copy() const { return dir_ / "log" / "VKTException.json"; }

  fs::path dir_;
  VKTAPPPARAM par_;
  VKTAPPPARAM* saved_ = nullptr;
};

TEST_F(ResponseTest, AnEmptyDocumentGivesFalseAndTheDefaults) {
  CkJsonObject json;
  CVKTResponse r;
  EXPECT_FALSE(r.ReadResponse(json));
  EXPECT_EQ(r.type, 2);
  EXPECT_STREQ(r.type_desc, "GENERIC EXCEPTION");
  EXPECT_EQ(r.error, 0);
  EXPECT_TRUE(r.message.IsEmpty());
  EXPECT_TRUE(r.stack_trace.IsEmpty());
  EXPECT_TRUE(r.alert_list.empty() && r.block_list.empty() && r.user_list.empty());
  EXPECT_TRUE(fs::exists(copy()));
}

TEST_F(ResponseTest, ReadsEveryMemberAndSavesTheWholeDocument) {
  CkJsonObject json;
  ASSERT_TRUE(json.Load(R"({"type": 5, "type_desc": "BLOCCO", "error": -70001,
      "message": "Citt\u00e0 non valida \u20ac", "stackTrace": "at x\nat y",
      "alert_list": ["uno"], "block_list": [], "user_list": ["a", "b"]})"));
  CVKTResponse r;
  EXPECT_TRUE(r.ReadResponse(json));
  EXPECT_EQ(r.type, 5);
  EXPECT_STREQ(r.type_desc, "BLOCCO");
  EXPECT_EQ(r.error, -70001);
  EXPECT_STREQ(r.message, "Citt\xE0 non valida \x80");  // Windows-1252
  EXPECT_STREQ(r.stack_trace, "at x\nat y");
  ASSERT_EQ(r.alert_list.size(), 1u);
  EXPECT_TRUE(r.block_list.empty());
  ASSERT_EQ(r.user_list.size(), 2u);
  EXPECT_STREQ(r.user_list[0], "a");
  EXPECT_STREQ(r.user_list[1], "b");

  const std::string saved = Slurp(copy());
  EXPECT_EQ(saved, json.Emit());
  EXPECT_NE(saved.find("\r\n"), std::string::npos);  // indented, CR-LF
  CkJsonObject back;
  ASSERT_TRUE(back.Load(saved));
  EXPECT_EQ(back.IntOf("error"), -70001);
  EXPECT_EQ(back.StringOf("message"), "Citt\xC3\xA0 non valida \xE2\x82\xAC");  // UTF-8 file
}

TEST_F(ResponseTest, ASecondCallStartsAfreshAndReplacesTheCopy) {
  CkJsonObject first, second;
  ASSERT_TRUE(first.Load(R"({"type": 5, "error": 9, "user_list": ["a", "b"], "message": "m"})"));
  ASSERT_TRUE(second.Load(R"({"user_list": ["c"]})"));
  CVKTResponse r;
  ASSERT_TRUE(r.ReadResponse(first));
  EXPECT_FALSE(r.ReadResponse(second));
  EXPECT_EQ(r.type, 2);
  EXPECT_EQ(r.error, 0);
  EXPECT_TRUE(r.message.IsEmpty());
  ASSERT_EQ(r.user_list.size(), 1u);
  EXPECT_STREQ(r.user_list[0], "c");
  EXPECT_EQ(Slurp(copy()), second.Emit());
}

TEST_F(ResponseTest, OddValuesReadAsMinusOneAndAMissingLogFolderDoesNotStopTheReading) {
  fs::remove_all(dir_ / "log");
  CkJsonObject json;
  ASSERT_TRUE(json.Load(R"({"type": "5", "error": 1.5, "alert_list": ["x", 3]})"));
  CVKTResponse r;
  EXPECT_TRUE(r.ReadResponse(json));
  EXPECT_EQ(r.type, -1);
  EXPECT_EQ(r.error, -1);
  ASSERT_EQ(r.alert_list.size(), 2u);
  EXPECT_STREQ(r.alert_list[1], "3");
  EXPECT_FALSE(fs::exists(copy()));

  ASSERT_TRUE(json.Load(R"({"type": 70000})"));  // beyond a 16-bit type
  EXPECT_TRUE(r.ReadResponse(json));
  EXPECT_EQ(r.type, -1);

  vktpar = nullptr;  // no parameter block: no copy, the reading still works
  ASSERT_TRUE(json.Load(R"({"type": 3})"));
  EXPECT_TRUE(r.ReadResponse(json));
  EXPECT_EQ(r.type, 3);
}

}  // namespace
