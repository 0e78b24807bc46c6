#include "band/doctor/doctor_facts_win.h"

#include "band/doctor/desktop_facts_win.h"
#include "band/doctor/registry_facts_win.h"
#include "band/published_bar_win.h"

namespace vellum::band {

DoctorFacts GatherDoctorFacts() {
  DoctorFacts facts;
  facts.windows = WindowsBits();
  facts.view32 = ReadViewRegistration(Bits::k32);
  // 32-bit Windows has one view, which the 64-bit flag would name too.
  if (facts.windows == Bits::k64) facts.view64 = ReadViewRegistration(Bits::k64);
  const ViewRegistration& explorers = facts.windows == Bits::k64 ? facts.view64 : facts.view32;
  facts.category_cache_stale = CategoryCacheStale(facts.windows, explorers);
  facts.toolbars_forbidden = ToolbarsForbidden(facts.windows);
  facts.taskbar_hosts_bands = TaskbarHostsBands();
  const BarHost host = FindPublishedBar().host;
  facts.band_live = host == BarHost::kDeskBand;
  facts.panel_live = host == BarHost::kTaskbarPanel;
  facts.vellum_running = VellumRunning();
  return facts;
}

}  // namespace vellum::band
