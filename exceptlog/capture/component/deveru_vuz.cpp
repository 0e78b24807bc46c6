#include "exceptlog/capture/component/deveru_vuz.h"

#include <algorithm>
#include <memory>

#include "runtime/component/class_builder.h"

namespace vellum::exceptlog {

namespace {

std::unique_ptr<std::vector<TDeveruVuz*>>& List() {
  static std::unique_ptr<std::vector<TDeveruVuz*>> list;
  return list;
}

}  // namespace

const char* ErrorCodeName(TDeveruVuzErrorCode code) {
  static const char* const kNames[] = {"eeNone",           "eeShowError",       "eeLogError",
                                       "eeEmailMAPIError", "eeEmailShellError", "eeEmailSMTPError",
                                       "eeWebHTTPError",   "eeWebHTTPSError",   "eeWebFTPError"};
  return code < std::size(kNames) ? kNames[code] : kNames[0];
}

const ClassInfo& TDeveruVuz::StaticClass() {
  using T = TDeveruVuz;
  static const ClassInfo info = ClassBuilder<T>("TDeveruVuz", &Component::StaticClass())
                                    .Event("OnExceptionNotify", &T::OnExceptionNotify)
                                    .Event("OnExceptionActionNotify", &T::OnExceptionActionNotify)
                                    .Event("OnExceptionErrorNotify", &T::OnExceptionErrorNotify)
                                    .Event("OnPasswordRequest", &T::OnPasswordRequest)
                                    .Event("OnCustomDataRequest", &T::OnCustomDataRequest)
                                    .Event("OnAttachedFilesRequest", &T::OnAttachedFilesRequest)
                                    .Event("OnCustomFieldsRequest", &T::OnCustomFieldsRequest)
                                    .Build();
  return info;
}

TDeveruVuz::TDeveruVuz() {
  if (TDeveruVuzList::Exists()) TDeveruVuzList::Add(*this);
}

TDeveruVuz::~TDeveruVuz() {
  TDeveruVuzList::Remove(*this);
}

void TDeveruVuzList::Create() {
  if (!List()) List() = std::make_unique<std::vector<TDeveruVuz*>>();
}

void TDeveruVuzList::Free() {
  List().reset();
}

bool TDeveruVuzList::Exists() {
  return List() != nullptr;
}

void TDeveruVuzList::Add(TDeveruVuz& component) {
  if (List() && !Contains(component)) List()->push_back(&component);
}

void TDeveruVuzList::Remove(TDeveruVuz& component) {
  if (!List()) return;
  auto& list = *List();
  list.erase(std::remove(list.begin(), list.end(), &component), list.end());
}

std::vector<TDeveruVuz*> TDeveruVuzList::Components() {
  return List() ? *List() : std::vector<TDeveruVuz*>{};
}

bool TDeveruVuzList::Contains(const TDeveruVuz& component) {
  return List() && std::find(List()->begin(), List()->end(), &component) != List()->end();
}

}  // namespace vellum::exceptlog
