// The server module's logic linked into the test: the data module's design,
// and the attach and detach actions with the control word and the thread's
// COM, read from inside (the built DLL's tests see the exports from outside).
#include "band/server_module_win.h"

#include <gtest/gtest.h>
#include <ole2.h>

#include <initializer_list>
#include <thread>

#include "band/band_ids.h"
#include "band/data_module_win.h"
#include "band/vellum_desk_band_form_win.h"

namespace vellum::band {
namespace {

const CLSID kUnknownClass = {0x1B2C3D4E, 0x5F60, 0x4172, {0x83, 0x94, 0xA5, 0xB6, 0xC7, 0xD8, 0xE9, 0xF0}};

TEST(ServerModule, TheDataModuleDeclaresTheFactoryManagerAndTheBand) {
  TDataModule1 module;
  EXPECT_EQ(module.Name(), "DataModule1");
  ASSERT_EQ(module.ComponentCount(), 2);
  EXPECT_EQ(module.Components(0), module.EasyFactoryManager1);
  EXPECT_EQ(module.Components(0)->Name(), "EasyFactoryManager1");
  EXPECT_EQ(module.Components(1), module.EasyDesktopBandHandler1);
  const shellext::DUduzDesktopBandHandler& band = *module.EasyDesktopBandHandler1;
  EXPECT_EQ(band.Name(), "EasyDesktopBandHandler1");
  EXPECT_EQ(band.MenuText(), "Vellum Tessera 7");
  EXPECT_EQ(band.Registration().Clsid(), kDeskBandClsid);
  EXPECT_EQ(band.Registration().Description(), "Vellum Tessera 7.0");
  EXPECT_EQ(band.Registration().Scope(), shellext::ensMachine);
  ASSERT_TRUE(band.OnGetBandForm);
  const ClassInfo* form = nullptr;
  module.EasyDesktopBandHandler1->OnGetBandForm(*module.EasyDesktopBandHandler1, form);
  EXPECT_EQ(form, &TVellumDeskBandForm::StaticClass());
}

TEST(ServerModule, DetachRestoresTheControlWordAndFreesWhatTheFirstCallBuilt) {
  // No place for the answer: nothing is built.
  EXPECT_EQ(ServerGetClassObject(kUnknownClass, IID_IClassFactory, nullptr), E_POINTER);
  EXPECT_FALSE(ServerInitialised());
  void* answer = nullptr;
  EXPECT_EQ(ServerGetClassObject(kUnknownClass, IID_IClassFactory, &answer), CLASS_E_CLASSNOTAVAILABLE);
  ASSERT_TRUE(ServerInitialised());

  // The thread's own word last, so the test leaves it as it found it.
  const unsigned short original = ReadFpuControlWord();
  for (const unsigned short before : std::initializer_list<unsigned short>{0x027F, 0x0C7F, original}) {
    WriteFpuControlWord(before);
    ProcessAttach();
    // Bit 6 of the x87 control word is reserved and always reads as one:
    // 0x133F written reads back as 0x137F.
    EXPECT_EQ(ReadFpuControlWord(), 0x137F);
    ProcessDetach();
    EXPECT_EQ(ReadFpuControlWord(), before);
    EXPECT_FALSE(ServerInitialised());
  }
  EXPECT_EQ(ServerCanUnloadNow(), S_OK);
  // The thread's COM went back to where it was: not initialised.
  EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
  CoUninitialize();

  // The next call builds a new server.
  ASSERT_EQ(ServerGetClassObject(kUnknownClass, IID_IClassFactory, &answer), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_TRUE(ServerInitialised());
  EXPECT_EQ(ServerCanUnloadNow(), S_FALSE);
  ProcessDetach();
}

// The server is first used on a thread of the multi-threaded apartment, which
// refuses OleInitialize: detach must not take that thread's COM away. (Wine's
// OleUninitialize refuses an unbalanced call itself; Windows' does not.)
TEST(ServerModule, DetachLeavesTheHostsOwnApartmentAlone) {
  HRESULT initialised = E_FAIL;
  HRESULT still_initialised = E_FAIL;
  HRESULT answer_result = E_FAIL;
  std::thread worker([&] {
    initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    void* answer = nullptr;
    answer_result = ServerGetClassObject(kUnknownClass, IID_IClassFactory, &answer);
    ProcessDetach();
    still_initialised = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(still_initialised)) CoUninitialize();
    if (SUCCEEDED(initialised)) CoUninitialize();
  });
  worker.join();
  ASSERT_EQ(initialised, S_OK);
  EXPECT_EQ(answer_result, CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(still_initialised, S_FALSE);
}

}  // namespace
}  // namespace vellum::band
