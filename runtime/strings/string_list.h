// An ordered list of 8-bit strings, each with an untyped object or integer tag
// beside it, with the text forms the rest of the system stores and exchanges:
// CR LF lines, comma text and "name=value" lines.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/strings/duplicates.h"

namespace vellum {

class Stream;

class StringList {
 public:
  using ChangeEvent = std::function<void()>;
  using CompareFunction = std::function<int(const StringList& list, int left, int right)>;

  StringList() = default;
  StringList(std::initializer_list<std::string> items);
  // Copies take the strings, objects and sort settings but neither the
  // events nor an update bracket: those belong to the original's owner.
  StringList(const StringList& other);
  StringList& operator=(const StringList& other);
  ~StringList() = default;

  int Count() const { return static_cast<int>(items_.size()); }
  bool Empty() const { return items_.empty(); }
  const std::string& operator[](int index) const { return Strings(index); }
  const std::string& Strings(int index) const;
  void SetString(int index, const std::string& text);

  // Objects are not owned: the list only carries the pointer (or a tag) for
  // whoever put it there.
  void* Objects(int index) const;
  void SetObject(int index, void* object);
  std::intptr_t Tags(int index) const { return reinterpret_cast<std::intptr_t>(Objects(index)); }
  void SetTag(int index, std::intptr_t tag) { SetObject(index, reinterpret_cast<void*>(tag)); }

  // Add answers the index of the new string; in a sorted list with
  // dupIgnore it answers the index of the string already there.
  int Add(const std::string& text) { return AddObject(text, nullptr); }
  int AddObject(const std::string& text, void* object);
  void AddStrings(const StringList& other);
  void Insert(int index, const std::string& text) { InsertObject(index, text, nullptr); }
  void InsertObject(int index, const std::string& text, void* object);
  void Delete(int index);
  void Clear();
  void Exchange(int first, int second);
  void Move(int from, int to);
  void Assign(const StringList& other);

  // Compares as CaseSensitive says; a sorted list searches by bisection.
  int IndexOf(std::string_view text) const;
  int IndexOfObject(const void* object) const;
  // Sorted lists: true when found, `index` the first match or the insertion
  // point. Unsorted lists are searched from the start, `index` the match or
  // Count().
  bool Find(std::string_view text, int& index) const;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted);
  DuplicatesMode Duplicates() const { return duplicates_; }
  void SetDuplicates(DuplicatesMode mode) { duplicates_ = mode; }
  bool CaseSensitive() const { return case_sensitive_; }
  void SetCaseSensitive(bool case_sensitive);
  void Sort();
  // Stable; Sorted() stays false afterwards because later adds would not
  // follow the custom order.
  void CustomSort(const CompareFunction& compare);

  // Each string followed by CR LF. The setter splits at CR LF, LF or CR; a
  // final break adds no empty line.
  std::string Text() const;
  void SetText(std::string_view text);
  // Comma-separated; an item that is empty or holds a blank, a comma or a
  // double quote is written in double quotes. Reading splits unquoted items
  // at commas and at blanks.
  std::string CommaText() const;
  void SetCommaText(std::string_view text);

  // "name=value" lines; names compare without regard to case.
  std::string Names(int index) const;
  std::string ValueFromIndex(int index) const;
  std::string Values(std::string_view name) const;
  int IndexOfName(std::string_view name) const;
  // Replaces the value of the first line with that name or adds a line; an
  // empty value deletes the line.
  void SetValue(std::string_view name, std::string_view value);

  // Stream and file contents are the text form; loading takes everything from
  // the stream's position to its end.
  void LoadFromStream(Stream& stream);
  void SaveToStream(Stream& stream) const;
  void LoadFromFile(const std::string& file_name);
  void SaveToFile(const std::string& file_name) const;

  // Between BeginUpdate and the matching EndUpdate, OnChanging fires before
  // the first change and OnChange once at the end, and only when something
  // changed. Outside a bracket each change fires both.
  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return update_count_; }
  ChangeEvent OnChange;
  ChangeEvent OnChanging;

  bool Equals(const StringList& other) const;
  std::vector<std::string> ToVector() const;

 private:
  struct Item {
    std::string text;
    void* object = nullptr;
  };

  int Compare(std::string_view left, std::string_view right) const;
  void CheckIndex(int index) const;
  void InsertItem(int index, const std::string& text, void* object);
  void SortItems();
  void Changing();
  void Changed();

  std::vector<Item> items_;
  bool sorted_ = false;
  bool case_sensitive_ = false;
  DuplicatesMode duplicates_ = dupIgnore;
  int update_count_ = 0;
  bool changing_fired_ = false;
  bool changed_in_update_ = false;
};

}  // namespace vellum
