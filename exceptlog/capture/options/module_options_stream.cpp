// The stored form of the options, written by this build at block version 504
// and read back from every older block version still found in modules. The
// layout is the order of module_option_table.inc; what is not plain about it
// is below, under the names the table gives it.
#include <algorithm>
#include <bitset>
#include <type_traits>

#include "exceptlog/capture/options/module_options.h"
#include "exceptlog/capture/options/options_codec.h"

namespace vellum::exceptlog {

namespace {

// The plain stored form follows from the type alone.
template <typename T>
void WritePlain(OptionsWriter& out, const T& value) {
  if constexpr (std::is_same_v<T, bool>) {
    out.Boolean(value);
  } else if constexpr (std::is_same_v<T, std::uint8_t>) {
    out.Byte(value);
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    out.Word(value);
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    out.Integer(value);
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    out.Cardinal(value);
  } else if constexpr (std::is_same_v<T, std::string>) {
    out.String(value);
  } else if constexpr (kIsFlagSet<T>) {
    WritePlain(out, value.ToBits());
  } else {
    static_assert(sizeof(T) == 0, "give the option a conversion of its own");
  }
}

template <typename T>
T ReadPlain(OptionsReader& in) {
  if constexpr (std::is_same_v<T, bool>) {
    return in.Boolean();
  } else if constexpr (std::is_same_v<T, std::uint8_t>) {
    return in.Byte();
  } else if constexpr (std::is_same_v<T, std::uint16_t>) {
    return in.Word();
  } else if constexpr (std::is_same_v<T, std::int32_t>) {
    return in.Integer();
  } else if constexpr (std::is_same_v<T, std::uint32_t>) {
    return in.Cardinal();
  } else if constexpr (std::is_same_v<T, std::string>) {
    return in.String();
  } else if constexpr (kIsFlagSet<T>) {
    return T(ReadPlain<decltype(T().ToBits())>(in));
  } else {
    static_assert(sizeof(T) == 0, "give the option a conversion of its own");
  }
}

// Versions before which a text was not stored yet; such a text keeps the value
// it had before the load.
std::bitset<kCustomizedTextCount> TextsAbsentBefore(std::uint16_t version) {
  std::bitset<kCustomizedTextCount> absent;
  const auto mark = [&absent](std::initializer_list<int> indexes) {
    for (int i : indexes) absent.set(static_cast<std::size_t>(i));
  };
  if (version < 420) mark({17});
  if (version <= 420) mark({16});
  if (version < 450) {
    mark({8, 9, 10, 11, 18, 19, 20, 26, 41, 47, 48, 52});
    for (int i = 75; i < kCustomizedTextCount; ++i) absent.set(static_cast<std::size_t>(i));
  }
  if (version < 500) {
    mark({12, 13, 21, 27, 46, 47, 48, 54, 55, 56, 57, 58, 59, 60, 61, 68, 69, 70, 71, 72, 73, 74, 89, 94, 95});
  }
  return absent;
}

bool StoredIn(std::uint16_t version, std::uint16_t since) {
  return version >= since;
}

// The conversions named in the table's Stored column. Each writes and reads
// one option, given as its member; a conversion that needs other options
// names them.
namespace stored {

using Values = ModuleOptionValues;

struct Plain {
  template <typename T>
  static void Write(OptionsWriter& out, const Values& values, T Values::*option) {
    WritePlain(out, values.*option);
  }
  template <typename T>
  static void Read(OptionsReader& in, std::uint16_t /*version*/, Values& values, T Values::*option) {
    values.*option = ReadPlain<T>(in);
  }
};

struct MillisecondsBefore422 : Plain {
  static void Read(OptionsReader& in, std::uint16_t version, Values& values, std::int32_t Values::*option) {
    const std::int32_t stored = in.Integer();
    values.*option = version < 422 ? stored / 1000 : stored;
  }
};

struct ZeroMeansOne : Plain {
  static void Read(OptionsReader& in, std::uint16_t /*version*/, Values& values, std::int32_t Values::*option) {
    const std::int32_t stored = in.Integer();
    values.*option = stored == 0 ? 1 : stored;
  }
};

// Before 450 the byte only said "send"; the method followed from whether an
// SMTP server was configured.
struct MailMethodBefore450 : Plain {
  static void Read(OptionsReader& in, std::uint16_t version, Values& values, std::uint8_t Values::*option) {
    std::uint8_t method = in.Byte();
    if (version < 450 && method != 0) method = values.SmtpServer.empty() ? 1 : 2;
    values.*option = method;
  }
};

// Five raw bytes. Blocks before 500 kept four, numbered another way; the
// fifth byte then keeps what it was before the load.
struct ReportFieldBytes {
  static void Write(OptionsWriter& out, const Values& values, TReportFields Values::*option) {
    out.Bytes((values.*option).ToBytes());
  }
  static void Read(OptionsReader& in, std::uint16_t version, Values& values, TReportFields Values::*option) {
    const bool renumbered = version < 500;
    TReportFields::Bytes bytes = (values.*option).ToBytes();
    in.Bytes(std::span(bytes).first(renumbered ? 4 : 5));
    values.*option = renumbered ? RenumberOldReportFields(TReportFields(bytes)) : TReportFields(bytes);
  }
};

// The two filter lists are stored as one list of pairs, the shorter list
// padded; FilterClassNames carries both, FilterMessages nothing of its own.
struct FilterPairs {
  static void Write(OptionsWriter& out, const Values& values, std::vector<std::string> Values::* /*option*/) {
    const std::size_t pairs = std::max(values.FilterClassNames.size(), values.FilterMessages.size());
    out.Integer(static_cast<std::int32_t>(pairs));
    for (std::size_t i = 0; i < pairs; ++i) {
      out.String(i < values.FilterClassNames.size() ? values.FilterClassNames[i] : std::string());
      out.String(i < values.FilterMessages.size() ? values.FilterMessages[i] : std::string());
    }
  }
  static void Read(OptionsReader& in, std::uint16_t /*version*/, Values& values,
                   std::vector<std::string> Values::* /*option*/) {
    const std::int32_t pairs = in.Integer();
    in.RequireRoomFor(pairs, 8);  // two length fields per pair at least
    values.FilterClassNames.clear();
    values.FilterMessages.clear();
    for (std::int32_t i = 0; i < pairs; ++i) {
      values.FilterClassNames.push_back(in.String());
      values.FilterMessages.push_back(in.String());
    }
  }
};

struct InFilterPairs {
  static void Write(OptionsWriter&, const Values&, std::vector<std::string> Values::*) {}
  static void Read(OptionsReader&, std::uint16_t, Values&, std::vector<std::string> Values::*) {}
};

// Each text is stored from the version that brought it.
struct TextsByVersion {
  static void Write(OptionsWriter& out, const Values& values, TCustomizedTexts Values::*option) {
    for (const std::string& text : values.*option) out.String(text);
  }
  static void Read(OptionsReader& in, std::uint16_t version, Values& values, TCustomizedTexts Values::*option) {
    const auto absent = TextsAbsentBefore(version);
    for (int i = 0; i < kCustomizedTextCount; ++i) {
      if (!absent.test(static_cast<std::size_t>(i))) (values.*option)[i] = in.String();
    }
  }
};

// The readers of the table's old fields: bytes that became parts of flag sets
// when those were stored whole, from 500 on.

// Before 450 the byte said "hide the dialog".
struct ShowDialogByte {
  static void Read(OptionsReader& in, std::uint16_t version, Values& values) {
    const bool show_dialog = in.Boolean() != (version < 450);
    values.DialogFlags = values.DialogFlags.With(dfShowDialog, show_dialog);
  }
};

struct SendFlagBytes {
  static void Read(OptionsReader& in, std::uint16_t /*version*/, Values& values) {
    values.SendFlags = values.SendFlags.With(sfWholeLog, in.Boolean());
    values.SendFlags = values.SendFlags.With(sfScreenshot, in.Boolean());
    values.SendFlags = values.SendFlags.With(sfProgressDialog, in.Boolean());
  }
};

struct OwnStyleByte {
  static void Read(OptionsReader& in, std::uint16_t /*version*/, Values& values) {
    values.DialogFlags = values.DialogFlags.With(dfOwnStyle, in.Boolean());
  }
};

struct UnusedByte {
  static void Read(OptionsReader& in, std::uint16_t /*version*/, Values& /*values*/) { in.Skip(1); }
};

}  // namespace stored

}  // namespace

void TRuzadaModuleOptions::SaveToStream(Stream& stream) const {
  OptionsWriter out(stream);
#define VELLUM_OPTION(Name, Type, Since, Stored, ...)                              \
  static_assert((Since) <= kOptionsBlockVersion, "stored before it was invented"); \
  stored::Stored::Write(out, values_, &ModuleOptionValues::Name);
#define VELLUM_OLD_FIELD(Reader, From, Before) \
  static_assert((Before) <= kOptionsBlockVersion, "an old field is not written any more");
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
#undef VELLUM_OLD_FIELD
}

void TRuzadaModuleOptions::LoadFromStream(Stream& stream, std::uint16_t version) {
  InUpdateBracket([&] {
    // A damaged block leaves the options as they were, not half replaced.
    ModuleOptionValues loaded = values_;
    LoadFields(stream, version, loaded);
    values_ = std::move(loaded);
  });
}

void TRuzadaModuleOptions::LoadFields(Stream& stream, std::uint16_t version, ModuleOptionValues& values) {
  OptionsReader in(stream);
#define VELLUM_OPTION(Name, Type, Since, Stored, ...) \
  if (StoredIn(version, Since)) stored::Stored::Read(in, version, values, &ModuleOptionValues::Name);
#define VELLUM_OLD_FIELD(Reader, From, Before) \
  if (StoredIn(version, From) && version < (Before)) stored::Reader::Read(in, version, values);
#include "exceptlog/capture/options/module_option_table.inc"
#undef VELLUM_OPTION
#undef VELLUM_OLD_FIELD
}

}  // namespace vellum::exceptlog
