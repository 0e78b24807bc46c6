#include "shellext/factory/clone_component.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "runtime/component/class_builder.h"
#include "runtime/exception.h"

namespace vellum::shellext {
namespace {

class TCloneSettings : public Persistent {
  VELLUM_PERSISTENT_CLASS()
 public:
  const std::string& Clsid() const { return clsid_; }
  void SetClsid(const std::string& value) { clsid_ = value; }
  void Assign(const Persistent* source) override {
    if (const auto* other = dynamic_cast<const TCloneSettings*>(source)) {
      clsid_ = other->clsid_;
      return;
    }
    Persistent::Assign(source);
  }

 private:
  std::string clsid_;
};

const ClassInfo& TCloneSettings::StaticClass() {
  static const ClassInfo info = ClassBuilder<TCloneSettings>("TCloneSettings", &Persistent::StaticClass())
                                    .Property("CLSID", &TCloneSettings::Clsid, &TCloneSettings::SetClsid)
                                    .Build();
  return info;
}

class TCloneTemplate : public Component {
  VELLUM_PERSISTENT_CLASS()
 public:
  const std::string& MenuText() const { return menu_text_; }
  void SetMenuText(const std::string& value) { menu_text_ = value; }
  const TCloneSettings& Settings() const { return settings_; }
  TCloneSettings& Settings() { return settings_; }
  TCloneTemplate* Partner() const { return partner_; }
  void SetPartner(TCloneTemplate* value) { partner_ = value; }

  std::function<void(Component& sender, std::string& form)> OnGetBandForm;

 private:
  std::string menu_text_;
  TCloneSettings settings_;
  TCloneTemplate* partner_ = nullptr;
};

const ClassInfo& TCloneTemplate::StaticClass() {
  static const ClassInfo info =
      ClassBuilder<TCloneTemplate>("TCloneTemplate", &Component::StaticClass())
          .Property("MenuText", &TCloneTemplate::MenuText, &TCloneTemplate::SetMenuText)
          .Object("Settings", [](const TCloneTemplate& t) -> const Persistent& { return t.Settings(); })
          .Reference<TCloneTemplate>("Partner", &TCloneTemplate::Partner, &TCloneTemplate::SetPartner)
          .Event("OnGetBandForm", &TCloneTemplate::OnGetBandForm)
          .Build();
  return info;
}

class CloneComponentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterComponentClass(TCloneTemplate::StaticClass());
    data_module_.SetName("DataModule1");
    auto& band = data_module_.CreateOwned<TCloneTemplate>();
    band.SetName("EasyDesktopBandHandler1");
    band.SetMenuText("Vellum Tessera 7");
    band.Settings().SetClsid("{6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7D}");
    band.OnGetBandForm = [this](Component& sender, std::string& form) {
      senders_.push_back(&sender);
      form = "TVellumDeskBandForm";
    };
    template_ = &band;
  }
  void TearDown() override { UnregisterComponentClass(TCloneTemplate::StaticClass()); }

  Component data_module_;
  TCloneTemplate* template_ = nullptr;
  std::vector<Component*> senders_;
};

TEST_F(CloneComponentTest, CopyCarriesPropertiesNestedObjectsAndHandlersButNoOwner) {
  const std::unique_ptr<Component> copy_base = CloneComponent(*template_);
  auto* copy = dynamic_cast<TCloneTemplate*>(copy_base.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, template_);
  EXPECT_EQ(copy->Owner(), nullptr);
  EXPECT_EQ(copy->Name(), "EasyDesktopBandHandler1");
  EXPECT_EQ(copy->MenuText(), "Vellum Tessera 7");
  EXPECT_EQ(copy->Settings().Clsid(), "{6A8B8C3E-0D2F-4A5B-9C1D-2E3F4A5B6C7D}");

  ASSERT_TRUE(copy->OnGetBandForm) << "handlers are copied by property name";
  std::string form;
  copy->OnGetBandForm(*copy, form);
  EXPECT_EQ(form, "TVellumDeskBandForm");
  EXPECT_EQ(senders_, std::vector<Component*>{copy}) << "the template's handler runs with the copy as sender";
}

TEST_F(CloneComponentTest, ReferencesToSiblingsOnTheDataModuleSurvive) {
  auto& menu = data_module_.CreateOwned<TCloneTemplate>();
  menu.SetName("EasyContextMenuHandler1");
  template_->SetPartner(&menu);
  EXPECT_EQ(static_cast<TCloneTemplate&>(*CloneComponent(*template_)).Partner(), &menu);

  data_module_.SetName("");  // an unnamed owner: streamed by the plain name
  EXPECT_EQ(static_cast<TCloneTemplate&>(*CloneComponent(*template_)).Partner(), &menu);

  Component elsewhere;
  elsewhere.SetName("OtherModule");
  auto& stranger = elsewhere.CreateOwned<TCloneTemplate>();
  stranger.SetName("EasyContextMenuHandler1");
  data_module_.SetName("DataModule1");
  template_->SetPartner(&stranger);
  EXPECT_EQ(static_cast<TCloneTemplate&>(*CloneComponent(*template_)).Partner(), nullptr)
      << "a same-named component of another module is not taken";
}

TEST_F(CloneComponentTest, CopyStepRunsOnTemplateAndCopyAndItsErrorsPropagate) {
  const Component* step_from = nullptr;
  Component* step_to = nullptr;
  const auto copy = CloneComponent(*template_, [&](const Component& from, Component& to) {
    step_from = &from;
    step_to = &to;
  });
  EXPECT_EQ(step_from, template_);
  EXPECT_EQ(step_to, copy.get());

  EXPECT_THROW(CloneComponent(*template_, [](const Component&, Component&) { throw EComponentError("step"); }),
               EComponentError);

  UnregisterComponentClass(TCloneTemplate::StaticClass());
  try {
    CloneComponent(*template_);
    FAIL() << "a class that is not registered by name cannot be cloned";
  } catch (const EClassNotFound& e) {
    EXPECT_EQ(e.Message(), "Class TCloneTemplate not found");
  }
}

}  // namespace
}  // namespace vellum::shellext
