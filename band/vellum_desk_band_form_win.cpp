#include "band/vellum_desk_band_form_win.h"

#include <cstring>

#include "band/about_box_win.h"
#include "band/artwork_win.h"
#include "band/band_strings.h"
#include "runtime/component/class_builder.h"
#include "runtime/gui/application_win.h"
#include "runtime/gui/designer.h"
#include "runtime/gui/dialogs_win.h"
#include "runtime/stream.h"
#include "runtime/strings/date_time.h"
#include "runtime/strings/format.h"

namespace vellum::band {

using gui::Design;

namespace {

std::string LoadResourceString(UINT id) {
  char buffer[512] = {};
  const int length = LoadStringA(gui::ModuleInstance(), id, buffer, sizeof buffer);
  return std::string(buffer, static_cast<std::size_t>(length > 0 ? length : 0));
}

std::string HandleText(HWND window) {
  // Handles are published as signed decimal numbers of 32 bits. width: window
  // handles are 32-bit significant in 64-bit Windows too, so a 32-bit Vellum
  // reads what a 64-bit band writes.
  return IntToStr(static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(window)));
}

}  // namespace

const ClassInfo& TVellumDeskBandForm::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TVellumDeskBandForm>("TVellumDeskBandForm", &shellext::DUduzDeskBandForm::StaticClass()).Build();
  return info;
}

TVellumDeskBandForm::TVellumDeskBandForm() {
  SetName("VellumDeskBandForm");

  ActionList1 = &CreateOwned<gui::TActionList>();
  ActionList1->SetName("ActionList1");
  auto action = [this](const char* name, const char* caption, int image,
                       void (TVellumDeskBandForm::*handler)(Component&)) {
    gui::TAction& created = CreateOwned<gui::TAction>();
    Design(created, {{"Name", name}, {"Caption", caption}, {"ImageIndex", image}, {"ActionList", ActionList1}});
    created.OnExecute = [this, handler](Component& sender) { (this->*handler)(sender); };
    return &created;
  };
  act_Connect = action("act_Connect", "Connect to Vellum", 54, &TVellumDeskBandForm::act_ConnectExecute);
  act_close = action("act_close", "Close Tessera", 63, &TVellumDeskBandForm::act_closeExecute);
  act_AboutTessera = action("act_AboutTessera", "About Tessera", 38, &TVellumDeskBandForm::act_AboutTesseraExecute);
  act_TestError = action("act_TestError", "TestError", 38, &TVellumDeskBandForm::act_TestErrorExecute);
  Design(*act_TestError, {{"Enabled", false}, {"Visible", false}});

  PopupMenuSysTray = &CreateOwned<gui::TPopupMenu>();
  PopupMenuSysTray->SetName("PopupMenuSysTray");
  PopupMenuSysTray->OnPopup = [this](Component& sender) { PopupMenuSysTrayPopup(sender); };
  auto item = [this](const char* name, gui::TAction* linked) {
    gui::TMenuItem& created = CreateOwned<gui::TMenuItem>();
    Design(created, {{"Name", name}, {"Action", linked}, {"Tag", 99}, {"HelpContext", 99999}});
    PopupMenuSysTray->Items().Add(created);
    return &created;
  };
  mnu_Connect = item("mnu_Connect", act_Connect);
  AboutTessera1 = item("AboutTessera1", act_AboutTessera);
  mnuSTExit = item("mnuSTExit", act_close);
  estError1 = item("estError1", act_TestError);

  Timer1 = &CreateOwned<gui::TTimer>();
  Design(*Timer1, {{"Name", "Timer1"}, {"Enabled", false}, {"Interval", 100}});
  Timer1->OnTimer = [this](Component& sender) { Timer1Timer(sender); };

  // Every exception reported while the form exists is logged, shown and sent
  // as the module's options say.
  DeveruVuz1 = &CreateOwned<exceptlog::TDeveruVuz>();
  Design(*DeveruVuz1, {{"Name", "DeveruVuz1"}});
  DeveruVuz1->OnExceptionNotify = [this](const exceptlog::TRuzadaExceptionRecord& record, bool& handled) {
    DeveruVuz1ExceptionNotify(record, handled);
  };

  Design(*this, {{"ClientWidth", 270},
                 {"ClientHeight", 185},
                 {"Hint", "Tessera"},
                 {"ShowHint", true},
                 {"KeyPreview", true},
                 {"Visible", true},
                 {"WindowState", "wsMaximized"},
                 {"Color", static_cast<unsigned>(gui::clBtnFace)},
                 {"HelpFile", "Vellum.chm"},
                 {"PopupMenu", PopupMenuSysTray}});
  SetFontName("MS Sans Serif");
  SetFontHeight(-11);
  OnCreate = [this](Component& sender) { EasyDeskBandFormCreate(sender); };
  OnClose = [this](Component& sender, gui::TCloseAction& closing) { EasyDeskBandFormClose(sender, closing); };
  OnKeyPress = [this](Component& sender, char& key) { EasyDeskBandFormKeyPress(sender, key); };

  pnlDock = &CreateOwned<gui::TPanel>();
  Design(*pnlDock, {{"Name", "pnlDock"},
                    {"Align", "alClient"},
                    {"BevelOuter", "bvNone"},
                    {"Hint", "Tessera DockPanel"},
                    {"PopupMenu", PopupMenuSysTray},
                    {"ParentBackground", true}});
  pnlDock->SetParent(this);
  pnlDock->OnResize = [this](Component& sender) { pnlDockResize(sender); };

  cmdActivateVellum = &CreateOwned<gui::TSpeedButton>();
  Design(*cmdActivateVellum, {{"Name", "cmdActivateVellum"},
                              {"Left", 8},
                              {"Top", 0},
                              {"Width", 23},
                              {"Height", 22},
                              {"Flat", true},
                              {"Hint", "Connect to Vellum"}});
  cmdActivateVellum->SetGlyph(CreateConnectGlyph());
  cmdActivateVellum->SetParent(pnlDock);
  cmdActivateVellum->OnClick = [this](Component& sender) { cmdActivateVellumClick(sender); };

  lblMsg = &CreateOwned<gui::TLabel>();
  Design(*lblMsg, {{"Name", "lblMsg"},
                   {"Left", 35},
                   {"Top", 4},
                   {"Width", 225},
                   {"Height", 26},
                   {"Caption", "Tessera Dock Panel"},
                   {"WordWrap", true},
                   {"Hint", "When Vellum is running, it should insert the Tessera into this space."}});
  lblMsg->SetParent(pnlDock);
}

TVellumDeskBandForm::~TVellumDeskBandForm() = default;

void TVellumDeskBandForm::EasyDeskBandFormCreate(Component&) {
  FHostWindow = nullptr;
  FRegIni = std::make_unique<RegistryIniFile>(kVellumKey);
  FSection = kTesseraSection;
  WriteInvitation();
  FCommandLine = FRegIni->ReadString(FSection, "CMDLINE", "");
}

void TVellumDeskBandForm::WriteInvitation() {
  FRegIni->WriteString(FSection, "InvitationFromBar2", FormatDateTime("yyyymmdd", IncDay(Now(), 1)));
  FRegIni->WriteString(FSection, "BarHandle", HandleText(Handle()));
  FRegIni->WriteString(FSection, "DockPanel", HandleText(pnlDock->Handle()));
}

bool TVellumDeskBandForm::IsHostClass(HWND window) {
  char class_name[40] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  return std::strstr(class_name, kHostClassPart) != nullptr;
}

bool TVellumDeskBandForm::AnnounceToHost() {
  HWND window = FindWindowA(nullptr, kHostWindowName);
  if (window == nullptr) return false;
  FHostWindow = window;  // kept even when the class test below fails
  if (!IsHostClass(window)) return false;
  PostMessageA(window, WM_HOTKEY, kAnnounce, reinterpret_cast<LPARAM>(Handle()));
  return true;
}

void TVellumDeskBandForm::StartResizeTimer() {
  Timer1->SetEnabled(false);
  Timer1->SetInterval(250);
  Timer1->SetTag(1);
  Timer1->SetEnabled(true);
}

void TVellumDeskBandForm::Timer1Timer(Component&) {
  Timer1->SetEnabled(false);
  if (Timer1->Tag() == 1) SendSizeToHost();
  Timer1->SetTag(0);
}

void TVellumDeskBandForm::SendSizeToHost() {
  if (FHostWindow == nullptr) return;
  if (!IsHostClass(FHostWindow)) return;
  const auto size =
      static_cast<std::uint32_t>(pnlDock->Height()) * 65536u + static_cast<std::uint32_t>(pnlDock->Width());
  PostMessageA(FHostWindow, WM_HOTKEY, kLinkOrSize, static_cast<LPARAM>(size));
}

void TVellumDeskBandForm::WndProc(gui::Message& message) {
  if (message.msg == WM_HOTKEY) {
    if (message.wparam == kLinkOrSize) {
      FHostWindow = reinterpret_cast<HWND>(message.lparam);
      FLinkState = kLinked;
      StartResizeTimer();
    }
    return;  // consumed either way
  }
  shellext::DUduzDeskBandForm::WndProc(message);
}

void TVellumDeskBandForm::pnlDockResize(Component&) {
  cmdActivateVellum->SetTop(pnlDock->Height() / 2 - cmdActivateVellum->Height() / 2);
  lblMsg->SetTop(cmdActivateVellum->Top() + 4);
  StartResizeTimer();
}

void TVellumDeskBandForm::EasyDeskBandFormKeyPress(Component&, char& key) {
  if (FLinkState == 0 && key == '+') AnnounceToHost();
}

void TVellumDeskBandForm::cmdActivateVellumClick(Component& sender) {
  act_ConnectExecute(sender);
}

void TVellumDeskBandForm::act_ConnectExecute(Component&) {
  try {
    FRegIni.reset();
    FRegIni = std::make_unique<RegistryIniFile>(kVellumKey);
    WriteInvitation();
    if (AnnounceToHost()) return;
    if (!FCommandLine.empty() && FileExists(FCommandLine)) {
      WinExec(FCommandLine.c_str(), SW_SHOWNORMAL);
    } else {
      gui::MessageDlg(LoadResourceString(IDS_TESSERA_READY), gui::mtInformation, gui::mbOK, 0);
    }
  } catch (const Exception&) {
    MessageBeep(0);
  }
}

void TVellumDeskBandForm::PopupMenuSysTrayPopup(Component&) {
  if (GetKeyState(VK_CONTROL) < 0) {
    act_TestError->SetEnabled(true);
    act_TestError->SetVisible(true);
  }
}

void TVellumDeskBandForm::act_TestErrorExecute(Component&) {
  throw EZeroDivide("Test Error.");
}

void TVellumDeskBandForm::DeveruVuz1ExceptionNotify(const exceptlog::TRuzadaExceptionRecord&, bool& Handled) {
  Handled = true;
}

void TVellumDeskBandForm::act_AboutTesseraExecute(Component&) {
  gui::TApplication& application = gui::Application();
  application.InsertComponent(gui::CreateForm<TAboutBox>());
  auto* about = static_cast<TAboutBox*>(application.Components(application.ComponentCount() - 1));
  about->ShowModal();
  // Each showing makes a new box; the closed one goes at once rather than
  // piling up under the application object for the life of the host.
  application.DestroyComponent(*about);
}

void TVellumDeskBandForm::act_closeExecute(Component&) {
  Close();
}

void TVellumDeskBandForm::EasyDeskBandFormClose(Component&, gui::TCloseAction&) {
  FRegIni.reset();
}

}  // namespace vellum::band
