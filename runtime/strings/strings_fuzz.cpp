// Text read back from files and the registry goes through the string list's
// text forms and the integer parser; patterns built from stored options go
// through Format. None of them may read out of bounds, and the list's text
// forms must survive a round trip.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "runtime/strings/date_time.h"
#include "runtime/strings/format.h"
#include "runtime/strings/string_list.h"
#include "runtime/strings/string_utils.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  using namespace vellum;
  switch (data[0] % 5) {
    case 0: {
      StringList list;
      list.SetText(text);
      StringList again;
      again.SetText(list.Text());
      Check(again.Equals(list));
      Check(AdjustLineBreaks(list.Text()) == list.Text());
      break;
    }
    case 1: {
      StringList list;
      list.SetCommaText(text);
      StringList again;
      again.SetCommaText(list.CommaText());
      Check(again.Equals(list));
      for (int i = 0; i < list.Count(); ++i) (void)list.Values(list.Names(i));
      break;
    }
    case 2: {
      std::int32_t value = 0;
      if (TryStrToInt(text, value)) Check(StrToInt(IntToStr(value)) == value);
      std::int64_t wide = 0;
      if (TryStrToInt64(text, wide)) Check(StrToInt64(IntToStr(wide)) == wide);
      break;
    }
    case 3: try { (void)Format(text, 42, -1, "text", std::string("string"), 2.5, 'c', static_cast<const void*>(data));
      } catch (const EConvertError&) {
      }
      break;
    case 4: {
      (void)FormatDateTime(text, DateTime{2024, 1, 31, 14, 25, 1, 7});
      (void)FormatDateTime(text, DateTime{0, 0, 0, -1, 99, 99, -5});
      (void)StringReplace(text, text.substr(0, text.size() / 3), "x", rfReplaceAll | rfIgnoreCase);
      break;
    }
  }
  return 0;
}
