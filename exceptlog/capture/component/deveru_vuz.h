// TDeveruVuz: the component through which application code takes part in
// exception reporting. It carries event handlers only; every live component
// is in TDeveruVuzList, and the pipeline calls the handlers of all of them,
// the last created first, always in the thread that raised the exception.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "exceptlog/capture/component/exception_record.h"
#include "runtime/component/component.h"
#include "runtime/strings/string_list.h"

namespace vellum::exceptlog {

using TExceptionNotify = std::function<void(const TRuzadaExceptionRecord& RuzadaExceptionRecord, bool& Handled)>;
using TExceptionActionNotify = std::function<void(const TRuzadaExceptionRecord& RuzadaExceptionRecord,
                                                  TRuzadaActionType RuzadaAction, bool& Execute)>;
using TExceptionErrorNotify = std::function<void(const TRuzadaExceptionRecord& RuzadaExceptionRecord,
                                                 TRuzadaActionType RuzadaAction, bool& Retry)>;
using TPasswordRequestNotify =
    std::function<void(const TRuzadaExceptionRecord& RuzadaExceptionRecord, std::string& Password)>;
using TCustomDataRequestNotify =
    std::function<void(const TRuzadaExceptionRecord& RuzadaExceptionRecord, std::string& CustomData)>;
using TAttachedFilesRequestNotify =
    std::function<void(const TRuzadaExceptionRecord& RuzadaExceptionRecord, StringList& AttachedFiles)>;
using TCustomFieldsRequestNotify = std::function<void(const TRuzadaExceptionRecord& RuzadaExceptionRecord,
                                                      StringList& FieldsName, StringList& FieldsValue)>;

class TDeveruVuz : public Component {
  VELLUM_PERSISTENT_CLASS()

 public:
  // Joins the component list when the subsystem has started.
  TDeveruVuz();
  // Leaves the list when it is in it.
  ~TDeveruVuz() override;

  TExceptionNotify OnExceptionNotify;
  TExceptionActionNotify OnExceptionActionNotify;
  TExceptionErrorNotify OnExceptionErrorNotify;
  TPasswordRequestNotify OnPasswordRequest;
  TCustomDataRequestNotify OnCustomDataRequest;
  TAttachedFilesRequestNotify OnAttachedFilesRequest;
  TCustomFieldsRequestNotify OnCustomFieldsRequest;
};

// The live components, in creation order; not owning. Exists from the
// subsystem's start to its stop: components made outside that time are not
// listed. Changed by creation and destruction in the application's main
// thread and read by the pipeline; it has no lock, as components are made and
// freed by the thread that also runs every handler.
class TDeveruVuzList {
 public:
  static void Create();
  static void Free();
  static bool Exists();

  static void Add(TDeveruVuz& component);
  static void Remove(TDeveruVuz& component);
  // A copy: a handler may free a component (its own form) while the
  // handlers run.
  static std::vector<TDeveruVuz*> Components();
  static bool Contains(const TDeveruVuz& component);
};

// One of the seven events, by its member.
template <typename Handler>
using TDeveruVuzEvent = Handler TDeveruVuz::*;

// True when at least one listed component has a handler for `event`: the
// pipeline builds an event's arguments only then.
template <typename Handler>
bool HasHandler(TDeveruVuzEvent<Handler> event) {
  for (TDeveruVuz* component : TDeveruVuzList::Components()) {
    if (component->*event) return true;
  }
  return false;
}

// Calls the handler of every listed component that has one, from the last
// created to the first. A component freed by an earlier handler is skipped.
template <typename Handler, typename... Args>
void FireEvent(TDeveruVuzEvent<Handler> event, Args&&... args) {
  const std::vector<TDeveruVuz*> components = TDeveruVuzList::Components();
  for (auto it = components.rbegin(); it != components.rend(); ++it) {
    if (!TDeveruVuzList::Contains(**it)) continue;
    const Handler& handler = (*it)->*event;
    if (handler) handler(args...);
  }
}

}  // namespace vellum::exceptlog
