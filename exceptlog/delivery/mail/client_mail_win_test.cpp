// Simple MAPI and the mailto: hand-over against stand-ins of a mail client
// registered for the current user; the stand-ins record what they were given.
#include <windows.h>
#include <gtest/gtest.h>

#include <fstream>
#include <optional>
#include <sstream>

#include "exceptlog/delivery/mail/mapi_mail_win.h"
#include "exceptlog/delivery/mail/shell_mail_win.h"
#include "runtime/registry/registry_key_win.h"

namespace vellum::exceptlog {
namespace {

constexpr const char* kClientsKey = "SOFTWARE\\Clients\\Mail";
// Wine's HKEY_CLASSES_ROOT does not show the user's classes, so the command
// is replaced there and put back afterwards.
constexpr const char* kMailtoCommandKey = "mailto\\shell\\open\\command";

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder = path;
  return folder.substr(0, folder.find_last_of('\\') + 1);
}

class ClientMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    record_ = std::string(temp) + "mail_standin_record.txt";
    DeleteFileA(record_.c_str());
    SetEnvironmentVariableA("VELLUM_MAIL_STANDIN_RECORD", record_.c_str());
    SetEnvironmentVariableA("VELLUM_MAPI_SEND_RESULT", nullptr);
    RegistryKey::DeleteTree(HKEY_CURRENT_USER, kClientsKey);
    errors_.Clear();
  }
  void TearDown() override {
    RegistryKey::DeleteTree(HKEY_CURRENT_USER, kClientsKey);
    if (saved_mailto_command_) {
      RegistryKey::Create(HKEY_CLASSES_ROOT, kMailtoCommandKey, KEY_WRITE).WriteString("", *saved_mailto_command_);
    }
    for (const auto& file : files_) DeleteFileA(file.c_str());
    DeleteFileA(record_.c_str());
  }

  void RegisterClient(const std::string& dll_path) {
    RegistryKey::Create(HKEY_CURRENT_USER, kClientsKey, KEY_WRITE).WriteString("", "Vellum Stand-in");
    RegistryKey::Create(HKEY_CURRENT_USER, std::string(kClientsKey) + "\\Vellum Stand-in", KEY_WRITE)
        .WriteString("DLLPath", dll_path);
  }
  std::string File(const std::string& name) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string path = std::string(temp) + name;
    std::ofstream(path, std::ios::binary) << "attachment";
    files_.push_back(path);
    return path;
  }
  void RegisterMailtoCommand(const std::string& command) {
    RegistryKey key = RegistryKey::Create(HKEY_CLASSES_ROOT, kMailtoCommandKey, KEY_READ | KEY_WRITE);
    if (!saved_mailto_command_) saved_mailto_command_ = key.ReadString("").value_or("");
    key.WriteString("", command);
  }
  std::string Record() const {
    std::ifstream file(record_, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

  std::string record_;
  std::vector<std::string> files_;
  std::optional<std::string> saved_mailto_command_;
  DeliveryErrorRecorder errors_;
};

TEST_F(ClientMailTest, MapiHandsRecipientsAndAttachmentsToTheClient) {
  SetEnvironmentVariableA("VELLUM_STANDIN_FOLDER", ProgramFolder().c_str());
  RegisterClient("%VELLUM_STANDIN_FOLDER%mapi_standin.dll");
  TClientMail mail;
  mail.Warn = errors_.Sink();
  mail.Addresses = "known@x.test; ,other@y.test";
  mail.Subject = "Crash report";
  mail.Body = "Body text";
  const std::string log = File("report.log");
  const std::string png = File("shot.png");
  mail.Attachments.FilesList = {png, "", "C:\\gone\\missing.txt"};
  mail.Attachments.Files = {log};
  mail.Attachments.TimeStamp = DateTime{2024, 1, 31, 14, 25, 1};
  ASSERT_TRUE(SendMailMAPI(mail)) << errors_.Last().Message;
  EXPECT_EQ(Record(),
            "logon profile=(null) password=(null) flags=1\n"
            "resolve session=77 name=known@x.test flags=0\n"
            "free entry\n"
            "resolve session=77 name=other@y.test flags=0\n"
            "send session=77 flags=1 subject=Crash report note=Body text files=2 table=yes\n"
            "recipient class=1 name=Known Person address=SMTP:known@x.test eid=4\n"
            "recipient class=1 name=other@y.test address=other@y.test eid=0\n"
            "file position=-1 path=" +
                log + " name=report_20240131142501.log\nfile position=-1 path=" + png +
                " name=shot_20240131142501.png\nlogoff session=77\n");
}

TEST_F(ClientMailTest, MapiResultsOfTheClientDecideTheOutcome) {
  RegisterClient(ProgramFolder() + "mapi_standin.dll");
  TClientMail mail;
  mail.Warn = errors_.Sink();
  mail.Addresses = "dev@x.test";
  mail.ShowDialog = true;

  SetEnvironmentVariableA("VELLUM_MAPI_SEND_RESULT", "1");  // the user closed the compose window
  EXPECT_TRUE(SendMailMAPI(mail));
  EXPECT_NE(Record().find("send session=77 flags=9 subject= note= files=0 table=no\n"), std::string::npos);

  SetEnvironmentVariableA("VELLUM_MAPI_SEND_RESULT", "2");
  EXPECT_FALSE(SendMailMAPI(mail));
  EXPECT_EQ(errors_.Last().Code, eeEmailMAPIError);
  EXPECT_EQ(errors_.Last().Message, "[MAPI] Cannot send the MAPI message.");
  EXPECT_NE(Record().rfind("logoff"), std::string::npos);
}

TEST_F(ClientMailTest, MapiLibraryWithoutTheEntryPointsIsAnError) {
  // Our own test program exports none of them; Wine's mapi32.dll is not
  // tried because the client's library loads.
  RegisterClient(ProgramFolder() + "mailto_standin.exe");
  TClientMail empty;
  empty.Warn = errors_.Sink();
  EXPECT_FALSE(SendMailMAPI(empty));
  EXPECT_EQ(errors_.Last().Message, "[MAPI] Cannot found the MAPI functions.");
}

TEST_F(ClientMailTest, MailtoCommandGetsTheEscapedUrlAndComesToTheTop) {
  RegisterMailtoCommand("\"" + ProgramFolder() + "mailto_standin.exe\" %1");
  ASSERT_TRUE(SendMailShell("dev@x.test", "Crash report", "See below.", "Report text"));
  EXPECT_EQ(Record(), "\"" + ProgramFolder() +
                          "mailto_standin.exe\" mailto:dev@x.test?Subject=Crash%20report&Body=See%20below%2E"
                          "%0D%0A%0D%0A%0D%0AReport%20text\n"
                          "topmost=1\n");
}

TEST_F(ClientMailTest, MailtoCommandThatCannotStartIsAnError) {
  RegisterMailtoCommand("C:\\nowhere\\mail.exe %1");
  EXPECT_FALSE(SendMailShell("dev@x.test", "s", "b", "r", errors_.Sink()));
  EXPECT_EQ(errors_.Last().Code, eeEmailShellError);
  EXPECT_EQ(errors_.Last().Message.rfind("[Shell] ", 0), 0u);
}

}  // namespace
}  // namespace vellum::exceptlog
