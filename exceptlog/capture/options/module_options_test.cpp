#include "exceptlog/capture/options/module_options.h"

#include <gtest/gtest.h>

#include "exceptlog/capture/options/module_options_test_support.h"

namespace vellum::exceptlog {
namespace {

using testing::ChangeEveryOption;
using testing::CountingOptions;

TEST(ModuleOptions, DefaultFlagSetsHoldTheDocumentedBits) {
  const TRuzadaModuleOptions options("D:\\bin\\band.dll", false);
  // The raw bits are what is stored, so they pin the enumerators' order too.
  EXPECT_EQ(options.LogFlags().ToBits(), 0x30);
  EXPECT_EQ(options.SendFlags().ToBits(), 0x0051);
  EXPECT_EQ(options.DialogFlags().ToBits(), 0x1F);
  EXPECT_EQ(options.StackFlags().ToBits(), 0x0F);
  EXPECT_EQ(options.BehaviorFlags().ToBits(), 0x30);
  EXPECT_TRUE(options.LogFlags().Contains(lfCpuSection));
  EXPECT_TRUE(options.SendFlags().Contains(sfLastHtmlPage));
  EXPECT_TRUE(options.BehaviorFlags().Contains(bfClipboardCopyOnSendFailure));
  EXPECT_FALSE(options.DialogFlags().Contains(dfDetailsOpen));
  for (int bit = 0; bit < TReportFields::kBitCount; ++bit) EXPECT_TRUE(options.ReportFields().Contains(bit));
  EXPECT_EQ(options.ModuleFileName(), "D:\\bin\\band.dll");
  EXPECT_TRUE(options.Enabled());
  EXPECT_EQ(options.UpdateCount(), 0);
}

TEST(ModuleOptions, HtmlTemplateDefaultIsFifteenCrLfLinesWithThePlaceholder) {
  const std::string html = TRuzadaModuleOptions("", false).HtmlTemplate();
  std::vector<std::string> lines;
  for (std::size_t start = 0;;) {
    const std::size_t end = html.find("\r\n", start);
    lines.push_back(html.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 2;
  }
  ASSERT_EQ(lines.size(), 15u);
  EXPECT_EQ(lines[0], "<html>");
  EXPECT_EQ(lines[4], "    <table width=\"100%\" border=\"0\">");
  EXPECT_EQ(lines[8], "            <%HTML_TAG%>");
  EXPECT_EQ(lines[14], "</html>");
  EXPECT_EQ(html.find('\n'), html.find("\r\n") + 1) << "no bare line feeds";
}

TEST(CustomizedTexts, TableMatchesTheReportFieldKeys) {
  EXPECT_EQ(DefaultCustomizedTexts()[kTextDialogErrorMessage],
            "An error has occurred during program execution.\r\n"
            "Please read the following information for further details.");
  EXPECT_EQ(kCustomizedTextTable[kTextLogNetworkHeader].name, "Netword");
  EXPECT_EQ(kCustomizedTextTable[kTextLogNetworkHeader].default_text, "Network");
  EXPECT_EQ(kCustomizedTextTable[kTextModulesModified].default_text, "Modified");
  for (const CustomizedTextInfo& text : kCustomizedTextTable) {
    EXPECT_NE(std::find(kCustomizedTextGroups.begin() + 1, kCustomizedTextGroups.end(), text.group),
              kCustomizedTextGroups.end())
        << text.name;
  }
  // Every report field is captioned by the text of its own name, in the
  // section whose header text precedes it.
  for (int bit = 0; bit < TReportFields::kUsedBitCount; ++bit) {
    const std::string_view key = kReportFieldKeys[bit];
    const std::string_view field = key.substr(key.find('|') + 1);
    const int text = ReportFieldTextIndex(bit);
    if (bit != 1) {
      EXPECT_EQ(kCustomizedTextTable[text].name, field) << key;
    }
    int header = 0;
    for (int section_header : {kTextLogApplicationHeader, kTextLogExceptionHeader, kTextLogActiveControlsHeader,
                               kTextLogComputerHeader, kTextLogOperatingSystemHeader, kTextLogNetworkHeader}) {
      if (section_header < text) header = section_header;
    }
    EXPECT_EQ(kCustomizedTextTable[header].default_text, key.substr(0, key.find('|'))) << key;
  }
  EXPECT_EQ(kCustomizedTextTable[ReportFieldTextIndex(1)].name, "Name/Description");
}

TEST(CustomizedTexts, NamedIndexesStayInsideTheirGroups) {
  // The names run in table order, so the first and last of each group pin
  // every name between them.
  const struct {
    CustomizedText first, last;
    std::string_view group;
  } groups[] = {
      {kTextInformationCaption, kTextQuestionCaption, "Message captions"},
      {kTextDialogCaption, kTextDialogSupportLink, "Exception Dialog"},
      {kTextLogApplicationHeader, kTextLogCustomInformationHeader, "Log"},
      {kTextCallStackAddress, kTextCallStackLine, "Call Stack"},
      {kTextThreadMain, kTextThreadClass, "Threads Data"},
      {kTextSendCaption, kTextSendSending, "Send Dialog"},
      {kTextReproduceCaption, kTextReproduceOkButton, "Reproduce Dialog"},
      {kTextModulesHandle, kTextModulesPath, "Modules List"},
      {kTextCpuRegisters, kTextCpuMemoryDump, "CPU"},
      {kTextSendSucceeded, kTextSendFailed, "Send messages"},
  };
  int next = 0;
  for (const auto& group : groups) {
    EXPECT_EQ(group.first, next) << group.group;
    for (int text = group.first; text <= group.last; ++text) {
      EXPECT_EQ(kCustomizedTextTable[text].group, group.group) << text;
    }
    next = group.last + 1;
  }
  EXPECT_EQ(next, kCustomizedTextCount);
}

TEST(ModuleOptions, ChangesInsideABracketAreAnnouncedOnceAtItsEnd) {
  CountingOptions options;
  options.SetSmtpPort(2525);
  EXPECT_EQ(options.changes, 1);

  options.changes = 0;
  options.BeginUpdate();
  options.BeginUpdate();
  options.SetSmtpServer("a");
  options.SetFilterClassNames({"EAbort"});
  options.SetText(kTextDialogGeneralHeader, "x");
  options.EndUpdate();
  options.Changed();
  EXPECT_EQ(options.changes, 0) << "the outer bracket is still open";
  options.EndUpdate();
  options.Changed();
  EXPECT_EQ(options.changes, 1);

  options.changes = 0;
  options.SetDefaults();
  EXPECT_EQ(options.changes, 1);
  EXPECT_EQ(options.Values(), ModuleOptionValues{});
}

TEST(ModuleOptions, OnlyPublishingOptionsOfThisModuleAnnounce) {
  CountingOptions silent(false);
  silent.SetSmtpPort(1);
  EXPECT_EQ(silent.changes, 0);
  CountingOptions foreign(true, "C:\\Windows\\system32\\other.dll");
  foreign.SetSmtpPort(1);
  EXPECT_EQ(foreign.changes, 0);
  CountingOptions unnamed(true, "");
  unnamed.SetSmtpPort(1);
  EXPECT_EQ(unnamed.changes, 0);
}

TEST(ModuleOptions, AssignCopiesEveryStoredOptionButNotTheModuleOrTheSwitch) {
  TRuzadaModuleOptions source("C:\\a.exe", false);
  ChangeEveryOption(source);
  source.SetEnabled(false);

  struct Target : CountingOptions {
    int freeze_setter_calls = 0;
    void SetFreezeCheck(bool value) override {
      ++freeze_setter_calls;
      CountingOptions::SetFreezeCheck(value);
    }
  } target;
  const std::string own_module = target.ModuleFileName();
  target.Assign(&source);
  EXPECT_EQ(target.Values(), source.Values());
  EXPECT_EQ(target.ModuleFileName(), own_module);
  EXPECT_TRUE(target.Enabled());
  EXPECT_EQ(target.changes, 1);
  EXPECT_EQ(target.freeze_setter_calls, 1) << "the watchdog switch must see the copy";

  target.changes = 0;
  target.Assign(&target);
  EXPECT_EQ(target.changes, 0);

  try {
    target.Assign(nullptr);
    FAIL() << "nil was assigned";
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Impossible to assign nil as TRuzadaModuleOptions.");
  }
  EXPECT_EQ(target.UpdateCount(), 0);
}

TEST(ModuleOptions, SettersKeepTheirInvariants) {
  CountingOptions options;
  options.SetLogMaxReports(0);
  EXPECT_EQ(options.LogMaxReports(), 1);
  options.SetLogMaxReports(-3);
  EXPECT_EQ(options.LogMaxReports(), -3);
  EXPECT_THROW(options.GetText(kCustomizedTextCount), EListError);
  EXPECT_THROW(options.SetText(-1, "x"), EListError);
  EXPECT_EQ(options.GetText(kTextSendSucceeded), "The message was sent successfully.");
  EXPECT_EQ(options.ReportFields().With(39, false).ToBytes()[4], 0x7F);
  EXPECT_FALSE(options.ReportFields().Contains(40));
}

}  // namespace
}  // namespace vellum::exceptlog
