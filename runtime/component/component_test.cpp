#include "runtime/component/component.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "runtime/component/class_builder.h"
#include "runtime/component/component_stream.h"
#include "runtime/component/property_access.h"
#include "runtime/exception.h"

namespace vellum {
namespace {

enum class Scope { kUser, kMachine };

class TTestRegistration : public Persistent {
  VELLUM_PERSISTENT_CLASS()
 public:
  const std::string& Clsid() const { return clsid_; }
  void SetClsid(const std::string& value) { clsid_ = value; }
  Scope GetScope() const { return scope_; }
  void SetScope(Scope value) { scope_ = value; }
  void Assign(const Persistent* source) override {
    if (const auto* other = dynamic_cast<const TTestRegistration*>(source)) {
      clsid_ = other->clsid_;
      scope_ = other->scope_;
      return;
    }
    Persistent::Assign(source);
  }

 private:
  std::string clsid_;
  Scope scope_ = Scope::kUser;
};

const ClassInfo& TTestRegistration::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TTestRegistration>("TTestRegistration", &Persistent::StaticClass())
          .Property("CLSID", &TTestRegistration::Clsid, &TTestRegistration::SetClsid)
          .Enumeration("Scope", &TTestRegistration::GetScope, &TTestRegistration::SetScope, {"ensUser", "ensMachine"})
          .Build();
  return info;
}

class TTestHandler : public Component {
  VELLUM_PERSISTENT_CLASS()
 public:
  int Width() const { return width_; }
  void SetWidth(int value) { width_ = value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  const std::string& MenuText() const { return menu_text_; }
  void SetMenuText(const std::string& value) { menu_text_ = value; }
  std::uint8_t Options() const { return options_; }
  void SetOptions(std::uint8_t value) { options_ = value; }
  const TTestRegistration& Registration() const { return registration_; }
  TTestRegistration& Registration() { return registration_; }
  TTestHandler* Partner() const { return partner_; }
  void SetPartner(TTestHandler* value) { partner_ = value; }

  std::function<void(Component& sender, std::string& answer)> OnGetBandForm;
  std::function<void(Component& sender)> OnAssign;

  std::vector<std::string>* removed_log = nullptr;
  int loaded_calls = 0;

 protected:
  void Notification(Component& component, Operation operation) override {
    if (operation == Operation::kRemove && removed_log != nullptr) removed_log->push_back(component.Name());
    if (operation == Operation::kRemove && &component == partner_) partner_ = nullptr;
  }
  void Loaded() override { ++loaded_calls; }

 private:
  int width_ = 0;
  bool visible_ = true;
  std::string menu_text_;
  std::uint8_t options_ = 0;
  TTestRegistration registration_;
  TTestHandler* partner_ = nullptr;
};

const ClassInfo& TTestHandler::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TTestHandler>("TTestHandler", &Component::StaticClass())
          .Property("Width", &TTestHandler::Width, &TTestHandler::SetWidth)
          .Property("Visible", &TTestHandler::Visible, &TTestHandler::SetVisible)
          .Property("MenuText", &TTestHandler::MenuText, &TTestHandler::SetMenuText)
          .Set("Options", &TTestHandler::Options, &TTestHandler::SetOptions, {"bfOne", "bfTwo", "bfThree"})
          .Object("Registration", [](const TTestHandler& h) -> const Persistent& { return h.Registration(); })
          .Reference<TTestHandler>("Partner", &TTestHandler::Partner, &TTestHandler::SetPartner)
          .Event("OnGetBandForm", &TTestHandler::OnGetBandForm)
          .Event("OnAssign", &TTestHandler::OnAssign)
          .Build();
  return info;
}

class ComponentModel : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterComponentClass(TTestHandler::StaticClass());
    RegisterComponentClass(Component::StaticClass());
  }
  void TearDown() override {
    UnregisterComponentClass(TTestHandler::StaticClass());
    UnregisterComponentClass(Component::StaticClass());
  }

  static std::unique_ptr<Component> RoundTrip(const Component& original, const ReadComponentOptions& options = {}) {
    MemoryStream stream;
    WriteComponent(stream, original);
    stream.SetPosition(0);
    return ReadComponent(stream, options);
  }
};

TEST_F(ComponentModel, StreamingCarriesEveryPublishedPropertyAndTheTree) {
  TTestHandler handler;
  handler.SetName("EasyDesktopBandHandler1");
  handler.SetWidth(-42);
  handler.SetVisible(false);
  handler.SetMenuText(std::string("&Vellum\0x", 9));
  handler.SetOptions(0b101);
  handler.Registration().SetClsid("{6A8B8C3E-0000-4000-8000-00000000ABCD}");
  handler.Registration().SetScope(Scope::kMachine);
  auto& child = handler.CreateOwned<TTestHandler>();
  child.SetName("Item1");
  child.SetWidth(7);
  auto& grandchild = child.CreateOwned<TTestHandler>();
  grandchild.SetName("Item1a");
  handler.SetPartner(&grandchild);  // a reference inside the tree

  const std::unique_ptr<Component> copy_base = RoundTrip(handler);
  auto* copy = dynamic_cast<TTestHandler*>(copy_base.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Name(), "EasyDesktopBandHandler1");
  EXPECT_EQ(copy->Owner(), nullptr);
  EXPECT_EQ(copy->Width(), -42);
  EXPECT_FALSE(copy->Visible());
  EXPECT_EQ(copy->MenuText(), std::string("&Vellum\0x", 9));
  EXPECT_EQ(copy->Options(), 0b101);
  EXPECT_EQ(copy->Registration().Clsid(), "{6A8B8C3E-0000-4000-8000-00000000ABCD}");
  EXPECT_EQ(copy->Registration().GetScope(), Scope::kMachine);
  ASSERT_EQ(copy->ComponentCount(), 1);
  auto* copied_child = dynamic_cast<TTestHandler*>(copy->Components(0));
  ASSERT_NE(copied_child, nullptr);
  EXPECT_EQ(copied_child->Width(), 7);
  ASSERT_EQ(copied_child->ComponentCount(), 1);
  EXPECT_EQ(copy->Partner(), copied_child->Components(0)) << "a reference into the tree points into the copy";
  EXPECT_EQ(copy->loaded_calls, 1);
  EXPECT_EQ(copied_child->loaded_calls, 1);
}

TEST_F(ComponentModel, ReferencesOutsideTheTreeResolveThroughTheCaller) {
  Component data_module;
  data_module.SetName("DataModule1");
  auto& menu = data_module.CreateOwned<TTestHandler>();
  menu.SetName("EasyContextMenuHandler1");
  auto& band = data_module.CreateOwned<TTestHandler>();
  band.SetName("EasyDesktopBandHandler1");
  band.SetPartner(&menu);

  std::string asked;
  ReadComponentOptions options;
  options.resolve_reference = [&](const std::string& name) -> Component* {
    asked = name;
    return name == "DataModule1.EasyContextMenuHandler1" ? &menu : nullptr;
  };
  const auto copy = RoundTrip(band, options);
  EXPECT_EQ(asked, "DataModule1.EasyContextMenuHandler1");
  EXPECT_EQ(static_cast<TTestHandler&>(*copy).Partner(), &menu);
  EXPECT_EQ(static_cast<TTestHandler&>(*RoundTrip(band)).Partner(), nullptr) << "unresolved stays nil";
}

TEST_F(ComponentModel, EventsAreNotStreamedButCopiedByPropertyName) {
  TTestHandler original;
  int calls = 0;
  original.OnGetBandForm = [&](Component& sender, std::string& answer) {
    ++calls;
    answer = "TVellumDeskBandForm:" + sender.Name();
  };
  original.SetName("Template");
  const auto copy_base = RoundTrip(original);
  auto& copy = static_cast<TTestHandler&>(*copy_base);
  EXPECT_FALSE(copy.OnGetBandForm);
  EXPECT_FALSE(copy.OnAssign);

  CopyEventHandlers(original, copy);
  ASSERT_TRUE(copy.OnGetBandForm);
  EXPECT_FALSE(copy.OnAssign) << "an unassigned handler stays unassigned";
  std::string answer;
  copy.OnGetBandForm(copy, answer);
  EXPECT_EQ(calls, 1) << "the copy fires the template's handler";
  EXPECT_EQ(answer, "TVellumDeskBandForm:Template");

  // Only same-named events of the same handler type are copied.
  Component plain;
  EXPECT_NO_THROW(CopyEventHandlers(original, plain));
  EXPECT_THROW(SetEventHandler(copy, "OnAssign", std::any(42)), EPropertyError);
  SetEventHandler(copy, "OnGetBandForm", std::any());
  EXPECT_FALSE(copy.OnGetBandForm);
}

TEST_F(ComponentModel, PropertiesAreReachableByName) {
  TTestHandler handler;
  SetPropertyValue(handler, "Width", std::int64_t{120});
  SetPropertyValue(handler, "MenuText", std::string("Vellum"));
  SetEnumProperty(handler.Registration(), "Scope", "ensMachine");
  EXPECT_EQ(handler.Width(), 120);
  EXPECT_EQ(GetStringProperty(handler, "MenuText"), "Vellum");
  EXPECT_EQ(GetEnumProperty(handler.Registration(), "Scope"), "ensMachine");
  EXPECT_EQ(GetIntegerProperty(handler, "Visible"), 1);

  EXPECT_THROW(SetPropertyValue(handler, "Width", std::string("wide")), EPropertyError);
  EXPECT_THROW(SetEnumProperty(handler.Registration(), "Scope", "ensEverybody"), EPropertyError);
  try {
    GetPropertyValue(handler, "Height");
    FAIL();
  } catch (const EPropertyError& e) {
    EXPECT_EQ(e.Message(), "Property Height does not exist");
  }

  const auto properties = TTestHandler::StaticClass().Properties();
  ASSERT_GE(properties.size(), 2u);
  EXPECT_EQ(properties[0]->name, "Name") << "ancestors' properties come first";
  EXPECT_TRUE(TTestHandler::StaticClass().InheritsFrom("TComponent"));
  EXPECT_TRUE(handler.InheritsFrom("TPersistent"));
}

TEST_F(ComponentModel, OwnersFreeTheirComponentsAndWatchersHearOfIt) {
  std::vector<std::string> removed;
  std::vector<std::string> destroyed_order;
  struct Tracked : Component {
    std::vector<std::string>* log = nullptr;
    ~Tracked() override { log->push_back(Name()); }
  };
  {
    TTestHandler watcher;
    watcher.removed_log = &removed;
    Component owner;
    for (const char* name : {"First", "Second", "Third"}) {
      auto& tracked = owner.CreateOwned<Tracked>();
      tracked.log = &destroyed_order;
      tracked.SetName(name);
    }
    watcher.FreeNotification(*owner.Components(1));
    EXPECT_EQ(owner.FindComponent("second"), owner.Components(1)) << "names match without regard to case";
    owner.DestroyComponent(*owner.Components(1));
    EXPECT_EQ(removed, std::vector<std::string>{"Second"});
    EXPECT_EQ(owner.ComponentCount(), 2);
  }
  EXPECT_EQ(destroyed_order, (std::vector<std::string>{"Second", "Third", "First"})) << "last created freed first";
}

TEST_F(ComponentModel, ReferenceIsClearedWhenTheTargetGoes) {
  TTestHandler holder;
  auto target = std::make_unique<TTestHandler>();
  holder.SetPartner(target.get());
  holder.FreeNotification(*target);
  target.reset();
  EXPECT_EQ(holder.Partner(), nullptr);
}

TEST_F(ComponentModel, NamesAreIdentifiersAndUniqueAmongSiblings) {
  Component owner;
  auto& first = owner.CreateOwned<Component>();
  first.SetName("act_Connect");
  auto& second = owner.CreateOwned<Component>();
  EXPECT_THROW(second.SetName("ACT_CONNECT"), EComponentError);
  try {
    second.SetName("act Connect");
    FAIL();
  } catch (const EComponentError& e) {
    EXPECT_EQ(e.Message(), "'act Connect' is not a valid component name");
  }
  EXPECT_THROW(second.SetName("1st"), EComponentError);
  second.SetName("act_About");
  EXPECT_EQ(second.Name(), "act_About");
}

TEST_F(ComponentModel, AssignFromNilOrAnUnrelatedClassNamesBothClasses) {
  TTestRegistration registration;
  try {
    registration.Assign(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a nil to a TTestRegistration");
  }
  Component component;
  try {
    registration.Assign(&component);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TComponent to a TTestRegistration");
  }
}

TEST_F(ComponentModel, DamagedStreamsEndInClearErrors) {
  TTestHandler handler;
  handler.SetName("Template");
  handler.SetMenuText("Vellum");
  handler.CreateOwned<TTestHandler>().SetName("Child");
  MemoryStream stream;
  WriteComponent(stream, handler);
  const std::string bytes = stream.ToString();

  // Every truncation fails cleanly.
  for (std::size_t length = 0; length < bytes.size(); ++length) {
    MemoryStream truncated(bytes.substr(0, length));
    EXPECT_THROW(ReadComponent(truncated), Exception) << "length " << length;
  }

  // A class that is not registered is named.
  UnregisterComponentClass(TTestHandler::StaticClass());
  stream.SetPosition(0);
  try {
    ReadComponent(stream);
    FAIL();
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TTestHandler not found");
  }
  RegisterComponentClass(TTestHandler::StaticClass());

  // A count that the rest of the stream cannot hold is refused before any allocation.
  MemoryStream forged;
  forged.WriteString("VCS1");
  for (const std::string& text : {std::string("TTestHandler"), std::string("Forged"), std::string()}) {
    forged.WriteValue<std::uint32_t>(static_cast<std::uint32_t>(text.size()));
    forged.WriteString(text);
  }
  forged.WriteValue<std::uint32_t>(0xFFFFFFFFu);
  forged.SetPosition(0);
  EXPECT_THROW(ReadComponent(forged), EReadError);

  MemoryStream wrong_signature(std::string("XCS1") + bytes.substr(4));
  EXPECT_THROW(ReadComponent(wrong_signature), EReadError);
}

}  // namespace
}  // namespace vellum
