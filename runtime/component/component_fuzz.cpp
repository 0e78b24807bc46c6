// Feeds arbitrary bytes to the component reader: it must end in one of the
// runtime's exceptions, never crash, hang or allocate without bound.
#include <cstddef>
#include <cstdint>

#include "runtime/component/class_builder.h"
#include "runtime/component/component.h"
#include "runtime/component/component_stream.h"

namespace {

class TFuzzComponent : public vellum::Component {
  VELLUM_PERSISTENT_CLASS()
 public:
  int number = 0;
  bool flag = false;
  std::string text;
  std::uint8_t bits = 0;
  int kind = 0;
  TFuzzComponent* other = nullptr;
  std::function<void()> OnEvent;
};

const vellum::ClassInfo& TFuzzComponent::StaticClass() {
  using T = TFuzzComponent;
  static const vellum::ClassInfo info =
      vellum::ClassBuilder<T>("TFuzzComponent", &vellum::Component::StaticClass())
          .Property(
              "Number", [](const T& t) { return t.number; }, [](T& t, int v) { t.number = v; })
          .Property(
              "Flag", [](const T& t) { return t.flag; }, [](T& t, bool v) { t.flag = v; })
          .Property(
              "Text", [](const T& t) { return t.text; }, [](T& t, const std::string& v) { t.text = v; })
          .Set(
              "Bits", [](const T& t) { return t.bits; }, [](T& t, std::uint8_t v) { t.bits = v; }, {"a", "b", "c"})
          .Enumeration(
              "Kind", [](const T& t) { return t.kind; }, [](T& t, int v) { t.kind = v; }, {"x", "y"})
          .Reference<T>(
              "Other", [](const T& t) { return t.other; }, [](T& t, T* v) { t.other = v; })
          .Event("OnEvent", &T::OnEvent)
          .Build();
  return info;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = [] {
    vellum::RegisterComponentClass(TFuzzComponent::StaticClass());
    return true;
  }();
  (void)registered;
  vellum::MemoryStream stream(std::vector<std::uint8_t>(data, data + size));
  try {
    vellum::ReadComponent(stream);
  } catch (const vellum::Exception&) {
  }
  return 0;
}
