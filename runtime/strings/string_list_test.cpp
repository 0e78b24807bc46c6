#include "runtime/strings/string_list.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "runtime/stream.h"

namespace vellum {
namespace {

std::vector<std::string> Items(const StringList& list) {
  return list.ToVector();
}
using V = std::vector<std::string>;

TEST(StringList, EditsInOrderAndChecksIndexes) {
  StringList list;
  EXPECT_EQ(list.Add("b"), 0);
  EXPECT_EQ(list.Add("c"), 1);
  list.Insert(0, "a");
  list.Insert(3, "d");
  EXPECT_EQ(Items(list), (V{"a", "b", "c", "d"}));
  list.Move(0, 3);
  list.Exchange(0, 1);
  EXPECT_EQ(Items(list), (V{"c", "b", "d", "a"}));
  list.Delete(2);
  list.SetString(0, "C");
  EXPECT_EQ(Items(list), (V{"C", "b", "a"}));
  EXPECT_EQ(list.IndexOf("c"), 0) << "lookups ignore case by default";
  list.SetCaseSensitive(true);
  EXPECT_EQ(list.IndexOf("c"), -1);

  for (const int bad : {-1, 3}) {
    try {
      (void)list[bad];
      FAIL() << "no error";
    } catch (const EListError& e) {
      EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
    }
  }
  EXPECT_THROW(list.Insert(4, "x"), EListError);
  EXPECT_THROW(list.Delete(3), EListError);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST(StringList, ObjectsAndTagsTravelWithTheirStrings) {
  int first = 1;
  int second = 2;
  StringList list;
  list.AddObject("one", &first);
  list.AddObject("two", &second);
  list.Add("three");
  list.SetTag(2, 42);
  list.Exchange(0, 1);
  EXPECT_EQ(list.Objects(0), &second);
  EXPECT_EQ(list.IndexOfObject(&first), 1);
  EXPECT_EQ(list.Tags(2), 42);
  list.SetSorted(true);
  EXPECT_EQ(Items(list), (V{"one", "three", "two"}));
  EXPECT_EQ(list.Objects(0), &first);
  EXPECT_EQ(list.Tags(1), 42);
}

TEST(StringList, SortedListsKeepOrderAndHandleDuplicatesAsConfigured) {
  StringList list;
  list.SetSorted(true);
  for (const char* text : {"pear", "Apple", "fig", "apple"}) list.Add(text);
  EXPECT_EQ(Items(list), (V{"Apple", "fig", "pear"})) << "dupIgnore keeps the first of equal strings";
  EXPECT_EQ(list.Add("APPLE"), 0) << "an ignored add answers the index of the string already there";
  int index = -1;
  EXPECT_TRUE(list.Find("PEAR", index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(list.Find("grape", index));
  EXPECT_EQ(index, 2) << "the insertion point";
  EXPECT_THROW(list.Insert(0, "x"), EListError);
  EXPECT_THROW(list.SetString(0, "x"), EListError);
  EXPECT_THROW(list.Exchange(0, 1), EListError);

  list.SetDuplicates(dupAccept);
  list.AddObject("apple", reinterpret_cast<void*>(7));
  EXPECT_EQ(Items(list), (V{"Apple", "apple", "fig", "pear"}));
  EXPECT_EQ(list.Tags(1), 7) << "equal strings keep the order they came in";
  EXPECT_EQ(list.IndexOf("APPLE"), 0) << "the first of the equal ones";

  list.SetDuplicates(dupError);
  try {
    list.Add("Fig");
    FAIL() << "no error";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "String list does not allow duplicates");
  }
  EXPECT_EQ(list.Count(), 4);

  list.SetCaseSensitive(true);
  EXPECT_EQ(Items(list), (V{"Apple", "apple", "fig", "pear"}));
  list.Add("Fig");
  EXPECT_EQ(Items(list), (V{"Apple", "Fig", "apple", "fig", "pear"})) << "case-sensitive order is byte order";
}

TEST(StringList, CustomSortIsStableAndLeavesTheListUnsorted) {
  StringList list{"bb", "a", "ccc", "dd", "e"};
  list.CustomSort([](const StringList& l, int left, int right) {
    return static_cast<int>(l[left].size()) - static_cast<int>(l[right].size());
  });
  EXPECT_EQ(Items(list), (V{"a", "e", "bb", "dd", "ccc"}));
  EXPECT_FALSE(list.Sorted());
}

TEST(StringList, TextUsesCrLfAndReadsAnyLineBreak) {
  StringList list;
  list.SetText("one\r\ntwo\nthree\rfour\r\n\r\nsix");
  EXPECT_EQ(Items(list), (V{"one", "two", "three", "four", "", "six"}));
  EXPECT_EQ(list.Text(), "one\r\ntwo\r\nthree\r\nfour\r\n\r\nsix\r\n");
  list.SetText("last\n");
  EXPECT_EQ(Items(list), (V{"last"})) << "a final break adds no empty line";
  list.SetText("");
  EXPECT_EQ(list.Count(), 0);
  list.SetText("\r\n");
  EXPECT_EQ(Items(list), (V{""}));
}

TEST(StringList, CommaTextQuotesWhatNeedsItAndRoundTrips) {
  StringList list{"plain", "with space", "", "a,b", "say \"x\"", "tab\there"};
  const std::string text = list.CommaText();
  EXPECT_EQ(text, "plain,\"with space\",\"\",\"a,b\",\"say \"\"x\"\"\",\"tab\there\"");
  StringList back;
  back.SetCommaText(text);
  EXPECT_TRUE(back.Equals(list));

  back.SetCommaText("  a b ,c,,\"d e\" ,");
  EXPECT_EQ(Items(back), (V{"a", "b", "c", "", "d e", ""})) << "unquoted items also end at blanks";
  back.SetCommaText("\"unclosed, quote");
  EXPECT_EQ(Items(back), (V{"unclosed, quote"}));
  back.SetCommaText("");
  EXPECT_EQ(back.Count(), 0);
}

TEST(StringList, NamesAndValues) {
  StringList list;
  list.SetText("Host=mail.example\nPort=25\nno separator\nEmpty=\n=nameless\nUrl=a=b");
  EXPECT_EQ(list.Names(0), "Host");
  EXPECT_EQ(list.Names(2), "") << "a line without '=' has no name";
  EXPECT_EQ(list.Values("port"), "25");
  EXPECT_EQ(list.Values("Url"), "a=b") << "only the first '=' separates";
  EXPECT_EQ(list.ValueFromIndex(3), "");
  EXPECT_EQ(list.Values("missing"), "");
  EXPECT_EQ(list.IndexOfName("EMPTY"), 3);

  list.SetValue("PORT", "587");
  EXPECT_EQ(list[1], "PORT=587") << "the line is rewritten with the name as given";
  list.SetValue("User", "me");
  EXPECT_EQ(list[list.Count() - 1], "User=me");
  list.SetValue("Host", "");
  EXPECT_EQ(list.IndexOfName("Host"), -1) << "an empty value deletes the line";

  StringList sorted;
  sorted.SetSorted(true);
  sorted.SetValue("b", "2");
  sorted.SetValue("a", "9");
  sorted.SetValue("a", "1");
  EXPECT_EQ(Items(sorted), (V{"a=1", "b=2"}));
}

TEST(StringList, ChangeEventsFireOncePerUpdateBracket) {
  StringList list;
  std::vector<std::string> events;
  list.OnChanging = [&] { events.push_back("changing:" + std::to_string(list.Count())); };
  list.OnChange = [&] { events.push_back("change:" + std::to_string(list.Count())); };

  list.Add("a");
  EXPECT_EQ(events, (V{"changing:0", "change:1"}));
  events.clear();

  list.BeginUpdate();
  list.BeginUpdate();
  list.Add("b");
  list.Add("c");
  list.Delete(0);
  list.EndUpdate();
  EXPECT_EQ(events, (V{"changing:1"})) << "nothing more until the outermost EndUpdate";
  list.EndUpdate();
  EXPECT_EQ(events, (V{"changing:1", "change:2"}));
  events.clear();

  list.BeginUpdate();
  list.EndUpdate();
  EXPECT_TRUE(events.empty()) << "an empty bracket changes nothing";

  list.SetText("x\ny\nz");
  EXPECT_EQ(events, (V{"changing:2", "change:3"})) << "a whole replacement is one change";
  events.clear();

  list.SetSorted(true);
  list.SetDuplicates(dupError);
  EXPECT_THROW(list.SetCommaText("q,q"), EListError);
  EXPECT_EQ(list.UpdateCount(), 0) << "a failed replacement still closes its bracket";
  EXPECT_EQ(events.back(), "change:1");

  StringList copy(list);
  EXPECT_FALSE(copy.OnChange) << "a copy does not inherit its original's handlers";
  EXPECT_TRUE(copy.Sorted());
}

TEST(StringList, StreamsAndFilesHoldTheText) {
  StringList list{"first", "second"};
  MemoryStream stream;
  stream.WriteString("header:");
  list.SaveToStream(stream);
  EXPECT_EQ(stream.ToString(), "header:first\r\nsecond\r\n");
  stream.SetPosition(7);
  StringList back;
  back.LoadFromStream(stream);
  EXPECT_TRUE(back.Equals(list));

  const std::string file = (std::filesystem::temp_directory_path() / "vellum_string_list_test.txt").string();
  list.SaveToFile(file);
  StringList from_file;
  from_file.LoadFromFile(file);
  EXPECT_TRUE(from_file.Equals(list));
  RemoveFile(file);
  EXPECT_THROW(from_file.LoadFromFile(file), EFOpenError);
}

}  // namespace
}  // namespace vellum
