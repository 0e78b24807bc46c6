// The options of one module: what the exception pipeline logs, shows, sends
// and watches for exceptions raised in that module. Every module carrying the
// subsystem has one object, filled from its stored block; the process-wide
// current options are a TRuzadaModuleOptionsEx.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "exceptlog/capture/options/customized_texts.h"
#include "exceptlog/capture/options/option_flags.h"
#include "exceptlog/capture/options/report_fields.h"
#include "runtime/stream.h"

namespace vellum::exceptlog {

// The block version this build writes.
inline constexpr std::uint16_t kOptionsBlockVersion = 504;

extern const char* const kDefaultSmtpSender;
extern const char* const kDefaultFreezeText;
extern const char* const kDefaultHtmlTemplate;

// Every option that is stored, copied and published, with its default, as
// listed in module_option_table.inc. The module file name and `Enabled`
// belong to one object only and live outside.
struct ModuleOptionValues {
#define VELLUM_OPTION(Name, Type, Since, Stored, Setter, Listed, ...) Type Name{__VA_ARGS__};
#define VELLUM_OLD_FIELD(Reader, From, Before)
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
#undef VELLUM_OLD_FIELD

  friend bool operator==(const ModuleOptionValues&, const ModuleOptionValues&) = default;
};

// Getter `Name()` and setter `SetName(value)`; every setter announces a change.
#define VELLUM_MODULE_OPTION_GETTER(Type, Name) \
  const Type& Name() const {                    \
    return values_.Name;                        \
  }
#define VELLUM_MODULE_OPTION_ACCESSORS_Plain(Type, Name) \
  VELLUM_MODULE_OPTION_GETTER(Type, Name)                \
  void Set##Name(Type value) {                           \
    values_.Name = std::move(value);                     \
    Changed();                                           \
  }
#define VELLUM_MODULE_OPTION_ACCESSORS_Virtual(Type, Name) \
  VELLUM_MODULE_OPTION_GETTER(Type, Name)                  \
  virtual void Set##Name(Type value);
#define VELLUM_MODULE_OPTION_ACCESSORS_Own(Type, Name) \
  VELLUM_MODULE_OPTION_GETTER(Type, Name)              \
  void Set##Name(Type value);

class TRuzadaModuleOptions {
 public:
  // `publish`: changes are handed to the change hook (see Changed).
  TRuzadaModuleOptions(std::string module_file_name, bool publish);
  virtual ~TRuzadaModuleOptions() = default;
  TRuzadaModuleOptions(const TRuzadaModuleOptions&) = delete;
  TRuzadaModuleOptions& operator=(const TRuzadaModuleOptions&) = delete;

  virtual void SetDefaults();
  // Copies every option but the module file name and `Enabled`. A null source
  // raises EConvertError; assigning an object to itself does nothing.
  virtual void Assign(const TRuzadaModuleOptions* source);

  virtual void SaveToStream(Stream& stream) const;
  // Reads a block written by block version `version` (older versions carry
  // fewer fields; absent ones keep their values). A damaged block raises
  // EReadError and leaves every option as it was.
  virtual void LoadFromStream(Stream& stream, std::uint16_t version = kOptionsBlockVersion);

  void BeginUpdate() { ++update_count_; }
  void EndUpdate() { --update_count_; }
  // Announces a change unless inside an update bracket.
  void Changed();

  // BeginUpdate, `body`, EndUpdate, Changed, the last two also when `body` raises.
  template <typename Body>
  void InUpdateBracket(Body&& body) {
    BeginUpdate();
    try {
      body();
    } catch (...) {
      EndUpdate();
      Changed();
      throw;
    }
    EndUpdate();
    Changed();
  }

  // The log file for `module_file_name` (default: this object's module).
  std::string LogFileName() const { return LogFileName(module_file_name_); }
  std::string LogFileName(const std::string& module_file_name) const;

  const std::string& GetText(int index) const;
  void SetText(int index, std::string text);

  const ModuleOptionValues& Values() const { return values_; }
  bool PublishesChanges() const { return publish_; }
  std::int32_t UpdateCount() const { return update_count_; }

  const std::string& ModuleFileName() const { return module_file_name_; }
  void SetModuleFileName(std::string name);
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool value);

  // `Name()` and `SetName(value)` of every option in module_option_table.inc.
#define VELLUM_OPTION(Name, Type, Since, Stored, Setter, Listed, ...) \
  VELLUM_MODULE_OPTION_ACCESSORS_##Setter(Type, Name)
#define VELLUM_OLD_FIELD(Reader, From, Before)
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
#undef VELLUM_OLD_FIELD

 protected:
  // Runs for every announced change of an object that publishes and belongs
  // to the module holding this code. Does nothing here.
  virtual void ChangeHook() {}

 private:
  static void LoadFields(Stream& stream, std::uint16_t version, ModuleOptionValues& values);
  // Takes every option from `source`; those with a virtual setter through it.
  void TakeValues(const ModuleOptionValues& source);

  bool publish_ = false;
  std::int32_t update_count_ = 0;
  std::string module_file_name_;
  bool enabled_ = true;
  ModuleOptionValues values_;
};

#undef VELLUM_MODULE_OPTION_GETTER
#undef VELLUM_MODULE_OPTION_ACCESSORS_Plain
#undef VELLUM_MODULE_OPTION_ACCESSORS_Virtual
#undef VELLUM_MODULE_OPTION_ACCESSORS_Own

}  // namespace vellum::exceptlog
