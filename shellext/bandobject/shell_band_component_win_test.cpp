// The band object as the taskbar drives it: a site, the form made on the
// first GetWindow, the band information, visibility, commands, persistence,
// focus and Tab keys, and the form's life after the object.
#include "shellext/bandobject/shell_band_component_win.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/gui/gui_test_support_win.h"
#include "shellext/bandobject/band_object_test_support_win.h"
#include "shellext/factory/live_object_count_win.h"

namespace vellum::shellext {
namespace {

using testing::BandAreaWindow;
using testing::PumpUntil;
using testing::TestBandSite;
using testing::TTestBandForm;
using testing::TTestTabBandForm;
using win::ComPtr;

constexpr char kTestClsid[] = "{5C0E2B7A-41D3-4F6E-9A18-0B7C6D5E4F31}";

// The fields GetBandInfo fills, all set to a value it never writes.
DESKBANDINFO Untouched(DWORD mask) {
  DESKBANDINFO info;
  std::memset(&info, 0x5A, sizeof info);
  info.dwMask = mask;
  return info;
}

constexpr DWORD kAllBandInfo =
    DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_INTEGRAL | DBIM_ACTUAL | DBIM_TITLE | DBIM_MODEFLAGS | DBIM_BKCOLOR;

MSG KeyMessage(HWND window, UINT message, WPARAM key) {
  MSG msg{};
  msg.hwnd = window;
  msg.message = message;
  msg.wParam = key;
  return msg;
}

class BandObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    OleInitialize(nullptr);
    TTestBandForm::ResetDesign();
    live_before_ = LiveObjectCount();
    band_ = MakeBand(&TTestBandForm::StaticClass());
  }

  void TearDown() override {
    band_.Reset();
    object_ = nullptr;
    area_.Destroy();
    // Every form made here goes with the band area, freed by the collector.
    EXPECT_TRUE(PumpUntil([] { return TTestBandForm::instances == 0; }));
    EXPECT_EQ(LiveObjectCount(), live_before_);
    EXPECT_EQ(site_.references(), 0);
    OleUninitialize();
  }

  ComPtr<IDeskBand> MakeBand(const ClassInfo* form_class) {
    auto created = std::make_unique<DUduzDesktopBandComponent>();
    created->Registration().SetClsid(kTestClsid);
    created->OnGetBandForm = [form_class](Component&, const ClassInfo*& named) { named = form_class; };
    created->SetRefCounted(true);
    created->_AddRef();
    object_ = created.get();
    return ComPtr<IDeskBand>::Attach(static_cast<IDeskBand*>(created.release()));
  }

  template <typename Interface>
  ComPtr<Interface> As(REFIID iid) {
    return band_.As<Interface>(iid);
  }

  HRESULT Site() { return As<IObjectWithSite>(IID_IObjectWithSite)->SetSite(static_cast<IOleWindow*>(&site_)); }

  HWND Window() {
    HWND window = nullptr;
    EXPECT_EQ(band_->GetWindow(&window), S_OK);
    return window;
  }

  IUnknown* Identity() {
    ComPtr<IUnknown> unknown = band_.As<IUnknown>(IID_IUnknown);
    return unknown.get();
  }

  BandAreaWindow area_;
  TestBandSite site_{area_.get()};
  ComPtr<IDeskBand> band_;
  DUduzDesktopBandComponent* object_ = nullptr;
  LONG live_before_ = 0;
};

TEST_F(BandObjectTest, BeforeTheFirstGetWindowTheBandAnswersAsHavingNoForm) {
  ASSERT_EQ(Site(), S_OK);
  EXPECT_EQ(object_->ParentWindow(), area_.get());
  DESKBANDINFO info = Untouched(kAllBandInfo);
  const DESKBANDINFO before = info;
  EXPECT_EQ(band_->GetBandInfo(0, DBIF_VIEWMODE_VERTICAL, &info), E_NOTIMPL);
  EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);
  EXPECT_EQ(object_->ViewMode(), ebmNormal);
  EXPECT_EQ(band_->ShowDW(TRUE), E_FAIL);
  EXPECT_EQ(band_->CloseDW(0), E_FAIL);

  auto input = As<IInputObject>(IID_IInputObject);
  EXPECT_EQ(input->HasFocusIO(), S_FALSE);
  MSG key = KeyMessage(nullptr, WM_KEYDOWN, 'A');
  EXPECT_EQ(input->TranslateAcceleratorIO(&key), S_FALSE);
  EXPECT_EQ(input->UIActivateIO(TRUE, nullptr), S_FALSE);
  ASSERT_EQ(site_.notices.size(), 1u);
  EXPECT_FALSE(site_.notices[0].has_focus);
  // Setting the site does not make the form.
  EXPECT_EQ(TTestBandForm::instances, 0);
  EXPECT_EQ(object_->BandForm(), nullptr);
}

TEST_F(BandObjectTest, GetWindowMakesTheNamedFormInsideTheSiteWindowOnce) {
  ASSERT_EQ(Site(), S_OK);
  HWND window = Window();
  ASSERT_NE(window, nullptr);
  ASSERT_NE(TTestBandForm::last, nullptr);
  EXPECT_EQ(TTestBandForm::instances, 1);
  EXPECT_EQ(window, TTestBandForm::last->Handle());
  EXPECT_EQ(GetParent(window), area_.get());
  EXPECT_EQ(TTestBandForm::last->BandObject(), object_);
  // The site's client area, and no caption or frame.
  RECT rect{};
  GetWindowRect(window, &rect);
  EXPECT_EQ(rect.right - rect.left, 420);
  EXPECT_EQ(rect.bottom - rect.top, 34);
  EXPECT_EQ(GetWindowLongA(window, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
  // The site was asked for a web browser and had none to give.
  EXPECT_EQ(site_.service_queries, 1);
  EXPECT_EQ(TTestBandForm::last->Browser(), nullptr);

  EXPECT_EQ(Window(), window);
  EXPECT_EQ(TTestBandForm::instances, 1);
  HWND* nowhere = nullptr;
  EXPECT_EQ(band_->GetWindow(nowhere), E_NOTIMPL);
}

TEST_F(BandObjectTest, GetWindowWithoutAFormClassAnswersNotImplemented) {
  object_->OnGetBandForm = nullptr;
  ASSERT_EQ(Site(), S_OK);
  HWND window = reinterpret_cast<HWND>(1);
  EXPECT_EQ(band_->GetWindow(&window), E_NOTIMPL);
  // A class that is not a band form is refused the same way.
  object_->OnGetBandForm = [](Component&, const ClassInfo*& named) { named = &gui::TCustomForm::StaticClass(); };
  EXPECT_EQ(band_->GetWindow(&window), E_NOTIMPL);
  EXPECT_EQ(object_->BandForm(), nullptr);
  EXPECT_EQ(GetWindow(area_.get(), GW_CHILD), nullptr);
}

TEST_F(BandObjectTest, BandInfoComesFromTheFormItsLimitsAndItsCaption) {
  ASSERT_EQ(Site(), S_OK);
  Window();
  DESKBANDINFO info = Untouched(kAllBandInfo);
  ASSERT_EQ(band_->GetBandInfo(7, DBIF_VIEWMODE_NORMAL, &info), S_OK);
  // No limits: -1 for each.
  EXPECT_EQ(info.ptMinSize.x, -1);
  EXPECT_EQ(info.ptMinSize.y, -1);
  EXPECT_EQ(info.ptMaxSize.x, -1);
  EXPECT_EQ(info.ptMaxSize.y, -1);
  EXPECT_EQ(info.ptIntegral.x, 1);
  EXPECT_EQ(info.ptIntegral.y, 1);
  EXPECT_EQ(info.ptActual.x, 420);
  EXPECT_EQ(info.ptActual.y, 34);
  EXPECT_EQ(info.dwModeFlags, static_cast<DWORD>(DBIMF_VARIABLEHEIGHT));
  EXPECT_EQ(info.crBkgnd, static_cast<COLORREF>(5));
  EXPECT_EQ(std::wstring(info.wszTitle), L"Test band");

  // Limits as designed; the maximum width is never reported.
  TTestBandForm& form = *TTestBandForm::last;
  form.BandConstraints().SetMinWidth(80);
  form.BandConstraints().SetMinHeight(20);
  form.BandConstraints().SetMaxWidth(300);
  form.BandConstraints().SetMaxHeight(60);
  info = Untouched(DBIM_MINSIZE | DBIM_MAXSIZE);
  ASSERT_EQ(band_->GetBandInfo(7, DBIF_VIEWMODE_NORMAL, &info), S_OK);
  EXPECT_EQ(info.ptMinSize.x, 80);
  EXPECT_EQ(info.ptMinSize.y, 20);
  EXPECT_EQ(info.ptMaxSize.x, -1);
  EXPECT_EQ(info.ptMaxSize.y, 60);
  // Only the requested members are written.
  EXPECT_EQ(info.ptIntegral.x, 0x5A5A5A5A);
  EXPECT_EQ(info.dwModeFlags, 0x5A5A5A5Au);
  EXPECT_EQ(info.wszTitle[0], 0x5A5A);
}

TEST_F(BandObjectTest, TitleIsTheCaptionCutTo255CharactersAndCleared) {
  ASSERT_EQ(Site(), S_OK);
  Window();
  TTestBandForm& form = *TTestBandForm::last;
  for (const std::size_t length : {300u, 5000u}) {
    std::string caption;
    for (std::size_t i = 0; i < length; ++i) caption += static_cast<char>('a' + i % 26);
    form.SetCaption(caption);
    DESKBANDINFO info = Untouched(DBIM_TITLE);
    ASSERT_EQ(band_->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info), S_OK);
    EXPECT_EQ(std::wstring(info.wszTitle), std::wstring(caption.begin(), caption.begin() + 255)) << length;
    EXPECT_EQ(info.wszTitle[255], L'\0');
  }
  // A short caption after a long one leaves nothing of the old one behind.
  form.SetCaption("Band");
  DESKBANDINFO info = Untouched(DBIM_TITLE);
  ASSERT_EQ(band_->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info), S_OK);
  EXPECT_EQ(std::wstring(info.wszTitle), L"Band");
  for (int i = 4; i < 256; ++i) ASSERT_EQ(info.wszTitle[i], L'\0') << i;
  // No caption: an empty title.
  form.SetCaption("");
  ASSERT_EQ(band_->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info), S_OK);
  EXPECT_EQ(info.wszTitle[0], L'\0');
}

TEST_F(BandObjectTest, EveryBandInfoCallReportsTheViewModeToTheForm) {
  ASSERT_EQ(Site(), S_OK);
  Window();
  const std::vector<std::pair<DWORD, DUduzBandViewMode>> calls = {
      {DBIF_VIEWMODE_VERTICAL, ebmVertical},       {DBIF_VIEWMODE_FLOATING, ebmFloating},
      {DBIF_VIEWMODE_TRANSPARENT, ebmTransparent}, {3, ebmTransparent},  // not a mode: unchanged
      {DBIF_VIEWMODE_NORMAL, ebmNormal},           {DBIF_VIEWMODE_NORMAL, ebmNormal}};
  std::vector<DUduzBandViewMode> expected;
  for (const auto& [mode, recorded] : calls) {
    DESKBANDINFO info = Untouched(DBIM_INTEGRAL);
    ASSERT_EQ(band_->GetBandInfo(0, mode, &info), S_OK);
    EXPECT_EQ(object_->ViewMode(), recorded) << mode;
    expected.push_back(recorded);
  }
  EXPECT_EQ(TTestBandForm::last->view_modes, expected);
}

TEST_F(BandObjectTest, CloseDWHidesTheFormAndShowDWShowsTheSameFormAgain) {
  ASSERT_EQ(Site(), S_OK);
  HWND window = Window();
  EXPECT_EQ(band_->ShowDW(TRUE), S_OK);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(band_->CloseDW(0), S_OK);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(band_->ShowDW(TRUE), S_OK);
  EXPECT_TRUE(IsWindowVisible(window));
  EXPECT_EQ(Window(), window);
  EXPECT_EQ(TTestBandForm::instances, 1);
  EXPECT_EQ(band_->ShowDW(FALSE), S_OK);
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(band_->ResizeBorderDW(nullptr, nullptr, FALSE), E_NOTIMPL);
  EXPECT_EQ(band_->ContextSensitiveHelp(TRUE), E_NOTIMPL);
}

TEST_F(BandObjectTest, ExecAnswersOnlyTheWindowThemeCommandOfAnyGroup) {
  auto target = As<IOleCommandTarget>(IID_IOleCommandTarget);
  ASSERT_TRUE(target);
  // Without a form the command is still answered.
  EXPECT_EQ(target->Exec(nullptr, kSetWindowThemeCommand, 0, nullptr, nullptr), S_OK);
  ASSERT_EQ(Site(), S_OK);
  Window();
  const GUID other_group = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(target->Exec(nullptr, kSetWindowThemeCommand, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(target->Exec(&CGID_DeskBand, kSetWindowThemeCommand, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(target->Exec(&other_group, kSetWindowThemeCommand, 0, nullptr, nullptr), S_OK);
  EXPECT_EQ(TTestBandForm::last->theme_changes, 3);
  EXPECT_EQ(target->Exec(&CGID_DeskBand, 5, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
  EXPECT_EQ(target->Exec(nullptr, 0, 0, nullptr, nullptr), OLECMDERR_E_NOTSUPPORTED);
  EXPECT_EQ(TTestBandForm::last->theme_changes, 3);

  OLECMD command{kSetWindowThemeCommand, 0};
  EXPECT_EQ(target->QueryStatus(&CGID_DeskBand, 1, &command, nullptr), OLECMDERR_E_UNKNOWNGROUP);
  EXPECT_EQ(target->QueryStatus(nullptr, 1, &command, nullptr), OLECMDERR_E_UNKNOWNGROUP);

  auto dispatch = As<IDispatch>(IID_IDispatch);
  ASSERT_TRUE(dispatch);
  UINT count = 99;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), E_NOTIMPL);
  EXPECT_EQ(count, 0u);
  DISPPARAMS no_arguments{};
  EXPECT_EQ(dispatch->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &no_arguments, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
}

TEST_F(BandObjectTest, PersistenceKeepsNothingBetweenShellStarts) {
  auto persist = As<IPersistStream>(IID_IPersistStream);
  ASSERT_TRUE(persist);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  ComPtr<IStream> stream;
  ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, stream.Receive()), S_OK);
  EXPECT_EQ(persist->Save(stream.get(), TRUE), S_OK);
  STATSTG stat{};
  ASSERT_EQ(stream->Stat(&stat, STATFLAG_NONAME), S_OK);
  EXPECT_EQ(stat.cbSize.QuadPart, 0u);
  EXPECT_EQ(persist->Load(stream.get()), S_OK);
  EXPECT_EQ(persist->IsDirty(), S_FALSE);
  ULARGE_INTEGER size;
  size.QuadPart = ~0ull;
  EXPECT_EQ(persist->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 0u);

  CLSID expected{};
  CLSIDFromString(L"{5C0E2B7A-41D3-4F6E-9A18-0B7C6D5E4F31}", &expected);
  CLSID class_id = GUID_NULL;
  EXPECT_EQ(persist->GetClassID(&class_id), S_OK);
  EXPECT_TRUE(IsEqualCLSID(class_id, expected));
  // IPersist is the same implementation.
  auto plain = As<IPersist>(IID_IPersist);
  class_id = GUID_NULL;
  EXPECT_EQ(plain->GetClassID(&class_id), S_OK);
  EXPECT_TRUE(IsEqualCLSID(class_id, expected));
  // A registration without a valid identifier gives a failure and GUID_NULL.
  object_->Registration().SetClsid("not a class identifier");
  class_id = expected;
  EXPECT_TRUE(FAILED(persist->GetClassID(&class_id)));
  EXPECT_TRUE(IsEqualCLSID(class_id, GUID_NULL));
}

TEST_F(BandObjectTest, GetSiteAnswersFromTheStoredSite) {
  auto with_site = As<IObjectWithSite>(IID_IObjectWithSite);
  void* answer = reinterpret_cast<void*>(1);
  EXPECT_EQ(with_site->GetSite(IID_IOleWindow, &answer), E_FAIL);
  EXPECT_EQ(answer, nullptr);
  ASSERT_EQ(Site(), S_OK);
  ASSERT_EQ(with_site->GetSite(IID_IOleWindow, &answer), S_OK);
  EXPECT_EQ(answer, static_cast<IOleWindow*>(&site_));
  static_cast<IUnknown*>(answer)->Release();
  EXPECT_EQ(with_site->GetSite(IID_IDeskBand, &answer), E_NOINTERFACE);

  // A site without IInputObjectSite gives the parent window but stores no
  // site: focus changes go nowhere.
  ASSERT_EQ(with_site->SetSite(nullptr), S_OK);
  site_.offer_input_object_site = false;
  ASSERT_EQ(Site(), S_OK);
  EXPECT_EQ(object_->ParentWindow(), area_.get());
  EXPECT_EQ(with_site->GetSite(IID_IOleWindow, &answer), E_FAIL);
  Window();
  EXPECT_EQ(As<IInputObject>(IID_IInputObject)->UIActivateIO(TRUE, nullptr), S_OK);
  EXPECT_TRUE(site_.notices.empty());
}

TEST_F(BandObjectTest, SetSiteNilReleasesTheFormAndALaterGetWindowMakesANewOne) {
  ASSERT_EQ(Site(), S_OK);
  HWND first_window = Window();
  TTestBandForm* first = TTestBandForm::last;
  auto with_site = As<IObjectWithSite>(IID_IObjectWithSite);
  ASSERT_EQ(with_site->SetSite(nullptr), S_OK);
  EXPECT_EQ(object_->BandForm(), nullptr);
  EXPECT_EQ(object_->ParentWindow(), nullptr);
  EXPECT_EQ(first->BandObject(), nullptr);
  // Released, not freed: the window stays in the shell's band area.
  EXPECT_TRUE(IsWindow(first_window));
  EXPECT_EQ(TTestBandForm::instances, 1);
  EXPECT_EQ(site_.references(), 0);
  EXPECT_EQ(band_->ShowDW(TRUE), E_FAIL);

  ASSERT_EQ(Site(), S_OK);
  HWND second_window = Window();
  EXPECT_NE(second_window, first_window);
  EXPECT_EQ(TTestBandForm::instances, 2);
  EXPECT_EQ(object_->BandForm(), TTestBandForm::last);
  // The released form no longer speaks for the band.
  first->DoSetWindowTheme();
  EXPECT_EQ(first->theme_changes, 0);
}

TEST_F(BandObjectTest, TheFormOutlivesTheObjectUntilTheShellDestroysItsWindow) {
  ASSERT_EQ(Site(), S_OK);
  HWND window = Window();
  TTestBandForm* form = TTestBandForm::last;
  band_.Reset();  // the last reference: the object goes
  object_ = nullptr;
  EXPECT_EQ(LiveObjectCount(), live_before_);
  EXPECT_EQ(site_.references(), 0);
  EXPECT_EQ(form->BandObject(), nullptr);
  EXPECT_TRUE(IsWindow(window));
  EXPECT_EQ(TTestBandForm::instances, 1);

  // A form is never freed inside its own WM_DESTROY; the collector's timer
  // frees it a moment later.
  area_.Destroy();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(TTestBandForm::instances, 1);
  EXPECT_TRUE(PumpUntil([] { return TTestBandForm::instances == 0; }, 2000));
}

TEST_F(BandObjectTest, WhenTheWindowGoesFirstTheObjectForgetsItsForm) {
  ASSERT_EQ(Site(), S_OK);
  HWND window = Window();
  area_.Destroy();
  EXPECT_FALSE(IsWindow(window));
  EXPECT_EQ(object_->BandForm(), nullptr);
  EXPECT_EQ(band_->ShowDW(TRUE), E_FAIL);
  EXPECT_EQ(band_->CloseDW(0), E_FAIL);
  DESKBANDINFO info = Untouched(kAllBandInfo);
  EXPECT_EQ(band_->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info), E_NOTIMPL);
  EXPECT_EQ(As<IInputObject>(IID_IInputObject)->HasFocusIO(), S_FALSE);
  EXPECT_TRUE(PumpUntil([] { return TTestBandForm::instances == 0; }, 2000));
  // The site's window is gone too: a new form gets no window in it, and is
  // neither kept for the band nor left with the collector.
  HWND again = nullptr;
  EXPECT_EQ(band_->GetWindow(&again), E_NOTIMPL);
  EXPECT_EQ(object_->BandForm(), nullptr);
  EXPECT_EQ(band_->ShowDW(TRUE), E_FAIL);
  EXPECT_TRUE(PumpUntil([] { return TTestBandForm::instances == 0; }, 2000));
  EXPECT_EQ(DUduzGarbageCollector::Instance().AdoptedCount(), 0);
}

TEST_F(BandObjectTest, FocusChangesReachTheSiteWithTheBandsIdentity) {
  band_ = MakeBand(&TTestTabBandForm::StaticClass());
  ASSERT_EQ(Site(), S_OK);
  HWND window = Window();
  auto input = As<IInputObject>(IID_IInputObject);
  IUnknown* identity = Identity();

  EXPECT_EQ(input->UIActivateIO(TRUE, nullptr), S_OK);
  EXPECT_EQ(input->HasFocusIO(), S_OK);
  ASSERT_FALSE(site_.notices.empty());
  EXPECT_EQ(site_.notices.back().object, identity);
  EXPECT_NE(site_.notices.back().has_focus, FALSE);

  EXPECT_EQ(input->UIActivateIO(FALSE, nullptr), S_FALSE);
  EXPECT_EQ(input->HasFocusIO(), S_FALSE);
  EXPECT_EQ(site_.notices.back().object, identity);
  EXPECT_EQ(site_.notices.back().has_focus, FALSE);

  // A click on a child control: the form hears of it from the system as
  // WM_PARENTNOTIFY, also when the child takes no focus itself.
  auto& form = static_cast<TTestTabBandForm&>(*TTestBandForm::last);
  site_.notices.clear();
  SendMessageA(window, WM_PARENTNOTIFY, MAKEWPARAM(WM_LBUTTONDOWN, 0), MAKELPARAM(10, 10));
  ASSERT_EQ(site_.notices.size(), 1u);
  EXPECT_NE(site_.notices[0].has_focus, FALSE);
  EXPECT_EQ(input->HasFocusIO(), S_OK);
  // Other child notices are not clicks.
  SendMessageA(window, WM_PARENTNOTIFY, MAKEWPARAM(WM_CREATE, 0), reinterpret_cast<LPARAM>(form.panel->Handle()));
  EXPECT_EQ(site_.notices.size(), 1u);

  // The form itself gaining and losing the keyboard focus is reported too.
  SetFocus(area_.get());
  site_.notices.clear();
  SetFocus(window);
  ASSERT_EQ(site_.notices.size(), 1u);
  EXPECT_NE(site_.notices[0].has_focus, FALSE);
  SetFocus(area_.get());
  ASSERT_EQ(site_.notices.size(), 2u);
  EXPECT_EQ(site_.notices[1].has_focus, FALSE);
  EXPECT_EQ(input->HasFocusIO(), S_FALSE);
}

TEST_F(BandObjectTest, TabLeavesAFormWithoutTabStopsAndOtherKeysAreConsumed) {
  ASSERT_EQ(Site(), S_OK);
  HWND window = Window();
  auto input = As<IInputObject>(IID_IInputObject);
  ASSERT_EQ(input->UIActivateIO(TRUE, nullptr), S_OK);
  site_.notices.clear();

  MSG tab_down = KeyMessage(window, WM_KEYDOWN, VK_TAB);
  EXPECT_EQ(input->TranslateAcceleratorIO(&tab_down), S_FALSE);
  ASSERT_EQ(site_.notices.size(), 1u);
  EXPECT_EQ(site_.notices[0].has_focus, FALSE);
  EXPECT_EQ(input->HasFocusIO(), S_FALSE);
  MSG tab_up = KeyMessage(window, WM_KEYUP, VK_TAB);
  EXPECT_EQ(input->TranslateAcceleratorIO(&tab_up), S_FALSE);

  // Any other key message is dispatched to its window and consumed.
  std::string typed;
  TTestBandForm::last->OnKeyPress = [&](Component&, char& key) { typed += key; };
  for (UINT message : {WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN}) {
    MSG key = KeyMessage(window, message, 'X');
    EXPECT_EQ(input->TranslateAcceleratorIO(&key), S_OK) << message;
  }
  MSG character = KeyMessage(window, WM_CHAR, 'x');
  EXPECT_EQ(input->TranslateAcceleratorIO(&character), S_OK);
  EXPECT_EQ(typed, "x");
  EXPECT_EQ(input->TranslateAcceleratorIO(nullptr), S_FALSE);
}

TEST_F(BandObjectTest, TabWalksTheTabStopsAndLeavesPastTheLast) {
  band_ = MakeBand(&TTestTabBandForm::StaticClass());
  ASSERT_EQ(Site(), S_OK);
  HWND window = Window();
  auto& form = static_cast<TTestTabBandForm&>(*TTestBandForm::last);
  auto input = As<IInputObject>(IID_IInputObject);
  SetFocus(area_.get());

  // Coming in with Tab released: the first tab stop.
  MSG tab_up = KeyMessage(window, WM_KEYUP, VK_TAB);
  EXPECT_EQ(input->TranslateAcceleratorIO(&tab_up), S_OK);
  EXPECT_EQ(GetFocus(), form.first->Handle());
  EXPECT_EQ(input->HasFocusIO(), S_OK);

  MSG tab_down = KeyMessage(window, WM_KEYDOWN, VK_TAB);
  EXPECT_EQ(input->TranslateAcceleratorIO(&tab_down), S_OK);
  EXPECT_EQ(GetFocus(), form.second->Handle());
  EXPECT_EQ(input->HasFocusIO(), S_OK);
  // Past the last tab stop the focus leaves the band.
  site_.notices.clear();
  EXPECT_EQ(input->TranslateAcceleratorIO(&tab_down), S_FALSE);
  EXPECT_FALSE(GetFocus() != nullptr && IsChild(window, GetFocus()));
  EXPECT_EQ(input->HasFocusIO(), S_FALSE);
  ASSERT_FALSE(site_.notices.empty());
  EXPECT_EQ(site_.notices.back().has_focus, FALSE);
  // The panel is never a tab stop.
  EXPECT_EQ(input->TranslateAcceleratorIO(&tab_down), S_OK);
  EXPECT_EQ(GetFocus(), form.first->Handle());

  // Ctrl held (as the key state says): backwards, leaving before the first.
  // The key state is the whole session's: other test programs must not type
  // or click meanwhile.
  gui::testing::ScreenLock screen;
  SetFocus(form.second->Handle());
  keybd_event(VK_CONTROL, 0, 0, 0);
  PumpUntil([] { return GetAsyncKeyState(VK_CONTROL) < 0; }, 1000);
  const bool control_down = GetAsyncKeyState(VK_CONTROL) < 0;
  const HRESULT back_to_first = input->TranslateAcceleratorIO(&tab_down);
  HWND focus_after_first = GetFocus();
  const HRESULT out_of_band = input->TranslateAcceleratorIO(&tab_down);
  HWND focus_after_second = GetFocus();
  keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
  PumpUntil([] { return GetAsyncKeyState(VK_CONTROL) >= 0; }, 1000);
  ASSERT_TRUE(control_down);
  EXPECT_EQ(back_to_first, S_OK);
  EXPECT_EQ(focus_after_first, form.first->Handle());
  EXPECT_EQ(out_of_band, S_FALSE);
  EXPECT_FALSE(focus_after_second != nullptr && IsChild(window, focus_after_second));
}

}  // namespace
}  // namespace vellum::shellext
