// The engine's JSON document: an object tree addressed by paths.
//
//   CkJsonObject json;
//   json.Load(R"({"type": 5, "user_list": ["a", "b"]})");
//   int type = json.IntOf("type");                    // 5
//   std::string who = json.StringOf("user_list[1]");  // "b"
//   json.UpdateString("answer.text", "ok");           // creates "answer"
//   json.put_EmitCompact(false);
//   std::string text = json.Emit();
//
// Paths: member names joined by ".", each optionally followed by [n] array
// indices from 0 ("data[2].name", "matrix[1][0]"). A name cannot itself hold
// ".", "[" or "]".
//
// Members keep their insertion order. Text in and out is UTF-8, as in the
// JSON itself: callers holding Windows-1252 text convert it first.
//
// Objects and arrays taken from a document (ObjectOf, ArrayOf, AppendObject
// ...) are views into the same document: changes through them show in the
// parent, and they stay safe to use after the parent has changed or gone (a
// view whose place no longer exists just reports nothing and refuses
// updates). Every object is for one thread at a time.
#ifndef VKT_ENGINE_JSON_H_
#define VKT_ENGINE_JSON_H_

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "vkt_export.h"

class CkJsonArray;

// Growing text, and the way a document reaches a file.
class VKT_API CkStringBuilder {
 public:
  void Append(const std::string& s) { text_ += s; }
  void Append(std::string&& s) {
    if (text_.empty()) {
      text_ = std::move(s);
    } else {
      text_ += s;
    }
  }
  const std::string& GetAsString() const { return text_; }
  int get_Length() const { return static_cast<int>(text_.size()); }
  void Clear() { text_.clear(); }
  // Writes the text, replacing the file. `charset` "utf-8" writes the bytes
  // as held (with the three-byte mark first when `emit_bom`); any other
  // charset is refused. False on failure, with LastErrorText.
  bool WriteFile(const std::string& path, const std::string& charset,
                 bool emit_bom);
  const std::string& LastErrorText() const { return last_error_; }

 private:
  std::string text_;
  std::string last_error_;
};

class VKT_API CkJsonObject {
 public:
  // An empty object "{}", a document of its own.
  CkJsonObject();
  ~CkJsonObject();
  CkJsonObject(CkJsonObject&&) noexcept;
  CkJsonObject& operator=(CkJsonObject&&) noexcept;
  CkJsonObject(const CkJsonObject&) = delete;
  CkJsonObject& operator=(const CkJsonObject&) = delete;

  // Replaces the content with the parsed text, which must be one JSON
  // object. On failure the content stays and LastErrorText says why.
  bool Load(const std::string& json);

  // Output options: compact (no blanks or line ends; default) or indented by
  // two blanks; indented lines end with CR-LF when EmitCrLf (default) and LF
  // otherwise, the last line included.
  bool get_EmitCompact() const;
  void put_EmitCompact(bool compact);
  bool get_EmitCrLf() const;
  void put_EmitCrLf(bool crlf);
  // The object as JSON text; empty when this view's place no longer exists.
  std::string Emit() const;
  // Appends Emit() to `sb`; false when there is nothing to emit.
  bool EmitSb(CkStringBuilder& sb) const;

  // --- reading by path -----------------------------------------------------
  bool HasMember(const std::string& path) const;
  // True only when a value exists there and is null.
  bool IsNullOf(const std::string& path) const;
  // A string's text; a number's or a boolean's JSON text; empty for null,
  // objects, arrays and missing paths.
  std::string StringOf(const std::string& path) const;
  // An integer value, or -1 when the path is missing or the value is not an
  // integer that fits.
  int IntOf(const std::string& path) const;
  // A boolean value; false otherwise.
  bool BoolOf(const std::string& path) const;
  // A number's value; 0.0 otherwise.
  double DoubleOf(const std::string& path) const;
  // Elements of the array there, or -1 when it is not an array.
  int SizeOfArray(const std::string& path) const;
  std::unique_ptr<CkJsonObject> ObjectOf(const std::string& path) const;
  std::unique_ptr<CkJsonArray> ArrayOf(const std::string& path) const;

  // --- updating by path ----------------------------------------------------
  // Sets the value there, creating missing members (objects for names,
  // arrays for indices; an index may add one element at the end). False when
  // the path is malformed, crosses a value of another kind or skips indices.
  bool UpdateString(const std::string& path, const std::string& value);
  bool UpdateInt(const std::string& path, int64_t value);
  // `numeric_text` is written as given ("1.500000" stays so); it must be a
  // JSON number.
  bool UpdateNumber(const std::string& path, const std::string& numeric_text);
  bool UpdateBool(const std::string& path, bool value);
  bool UpdateNull(const std::string& path);

  // --- members by position ---------------------------------------------------
  int get_Size() const;
  // The name at `index`, empty when out of range; -1 when there is no such
  // member.
  std::string NameAt(int index) const;
  int IndexOf(const std::string& name) const;
  // Inserts a new member before `index` (-1 or the size: at the end). False
  // when the name is already a member, the index is out of range or a
  // number text is not a JSON number.
  bool AddStringAt(int index, const std::string& name, const std::string& value);
  bool AddIntAt(int index, const std::string& name, int64_t value);
  bool AddNumberAt(int index, const std::string& name, const std::string& numeric_text);
  bool AddBoolAt(int index, const std::string& name, bool value);
  bool AddNullAt(int index, const std::string& name);
  bool AddObjectAt(int index, const std::string& name);
  bool AddArrayAt(int index, const std::string& name);
  // A new empty member at the end and a view of it; null when the name is
  // already a member.
  std::unique_ptr<CkJsonObject> AppendObject(const std::string& name);
  std::unique_ptr<CkJsonArray> AppendArray(const std::string& name);
  // Replace the value of the member at `index`; false when out of range.
  bool SetStringAt(int index, const std::string& value);
  bool SetIntAt(int index, int64_t value);
  bool SetNumberAt(int index, const std::string& numeric_text);
  bool SetBoolAt(int index, bool value);
  bool SetNullAt(int index);
  std::unique_ptr<CkJsonObject> ObjectAt(int index) const;
  std::unique_ptr<CkJsonArray> ArrayAt(int index) const;
  bool Delete(const std::string& name);
  // Removes every member.
  void Clear();

  const std::string& LastErrorText() const;

  struct Impl;

 private:
  friend class CkJsonArray;
  explicit CkJsonObject(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// An array inside a document (from CkJsonObject::ArrayOf and the like), or a
// document of its own when constructed directly.
class VKT_API CkJsonArray {
 public:
  CkJsonArray();
  ~CkJsonArray();
  CkJsonArray(CkJsonArray&&) noexcept;
  CkJsonArray& operator=(CkJsonArray&&) noexcept;
  CkJsonArray(const CkJsonArray&) = delete;
  CkJsonArray& operator=(const CkJsonArray&) = delete;

  // Replaces the content with the parsed text, which must be one JSON array.
  bool Load(const std::string& json);

  bool get_EmitCompact() const;
  void put_EmitCompact(bool compact);
  bool get_EmitCrLf() const;
  void put_EmitCrLf(bool crlf);
  std::string Emit() const;

  // Elements, 0 when this view's place no longer exists.
  int get_Size() const;
  // As CkJsonObject's StringOf, IntOf, BoolOf, DoubleOf and IsNullOf.
  std::string StringAt(int index) const;
  int IntAt(int index) const;
  bool BoolAt(int index) const;
  double DoubleAt(int index) const;
  bool IsNullAt(int index) const;
  std::unique_ptr<CkJsonObject> ObjectAt(int index) const;
  std::unique_ptr<CkJsonArray> ArrayAt(int index) const;

  // Inserts before `index` (-1 or the size: at the end).
  bool AddStringAt(int index, const std::string& value);
  bool AddIntAt(int index, int64_t value);
  bool AddNumberAt(int index, const std::string& numeric_text);
  bool AddBoolAt(int index, bool value);
  bool AddNullAt(int index);
  bool AddObjectAt(int index);
  bool AddArrayAt(int index);
  std::unique_ptr<CkJsonObject> AppendObject();
  std::unique_ptr<CkJsonArray> AppendArray();
  bool DeleteAt(int index);
  void Clear();

  const std::string& LastErrorText() const;

 private:
  friend class CkJsonObject;
  explicit CkJsonArray(std::unique_ptr<CkJsonObject::Impl> impl);
  std::unique_ptr<CkJsonObject::Impl> impl_;
};

#endif  // VKT_ENGINE_JSON_H_
