// What cloning a template by streaming costs: every class object the shell
// asks for makes one such copy.
#include <benchmark/benchmark.h>

#include "runtime/component/class_builder.h"
#include "runtime/component/component_stream.h"
#include "runtime/component/property_access.h"

namespace {

class TBenchItem : public vellum::Component {
  VELLUM_PERSISTENT_CLASS()
 public:
  std::string caption = "Connect to Vellum";
  int width = 270;
  std::function<void()> OnExecute;
};

const vellum::ClassInfo& TBenchItem::StaticClass() {
  using T = TBenchItem;
  static const vellum::ClassInfo info =
      vellum::ClassBuilder<T>("TBenchItem", &vellum::Component::StaticClass())
          .Property(
              "Caption", [](const T& t) { return t.caption; }, [](T& t, const std::string& v) { t.caption = v; })
          .Property(
              "Width", [](const T& t) { return t.width; }, [](T& t, int v) { t.width = v; })
          .Event("OnExecute", &T::OnExecute)
          .Build();
  return info;
}

void CloneTemplate(benchmark::State& state) {
  vellum::RegisterComponentClass(TBenchItem::StaticClass());
  TBenchItem root;
  root.SetName("Template");
  root.OnExecute = [] {};
  for (int i = 0; i < state.range(0); ++i) root.CreateOwned<TBenchItem>().SetName("Item" + std::to_string(i));
  for (auto _ : state) {
    vellum::MemoryStream stream;
    vellum::WriteComponent(stream, root);
    stream.SetPosition(0);
    auto copy = vellum::ReadComponent(stream);
    vellum::CopyEventHandlers(root, *copy);
    benchmark::DoNotOptimize(copy);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(CloneTemplate)->Arg(0)->Arg(8)->Arg(64);

}  // namespace
