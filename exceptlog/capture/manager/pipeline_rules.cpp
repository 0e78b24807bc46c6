#include "exceptlog/capture/manager/pipeline_rules.h"

#include <new>

#include "runtime/exception.h"
#include "runtime/strings/string_utils.h"

namespace vellum::exceptlog {

std::vector<std::string> ExceptionClassChain(const std::exception_ptr& error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const Exception& own) {
    std::vector<std::string> chain;
    for (std::string_view name : own.ClassChain()) chain.emplace_back(name);
    return chain;
  } catch (const std::bad_alloc&) {
    return {"EOutOfMemory", "EHeapException", "Exception"};
  } catch (...) {
  }
  return {"Exception"};
}

std::string ExceptionMessage(const std::exception_ptr& error) {
  if (!error) return {};
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return "Out of memory";
  } catch (const std::exception& failure) {
    return failure.what();
  } catch (...) {
  }
  return "Unknown exception";
}

const std::exception* AsStdException(const std::exception_ptr& error) {
  if (!error) return nullptr;
  try {
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    return &e;  // caught by reference: the thrown object, not a copy
  } catch (...) {
  }
  return nullptr;
}

int FindFilter(const std::vector<std::string>& class_chain, const std::vector<std::string>& filter_class_names) {
  for (std::size_t i = 0; i < filter_class_names.size(); ++i) {
    const std::string entry = Trim(filter_class_names[i]);
    if (entry.empty()) continue;
    for (const std::string& name : class_chain) {
      if (SameText(entry, name)) return static_cast<int>(i);
    }
  }
  return -1;
}

void BurstList::Append(double minute_stamp, int capacity) {
  stamps_.push_back(minute_stamp);
  while (static_cast<int>(stamps_.size()) > capacity && !stamps_.empty()) stamps_.pop_front();
}

bool BurstList::IsBurst(int count, int minutes) const {
  if (count <= 0 || static_cast<int>(stamps_.size()) != count) return false;
  return stamps_.back() - stamps_.front() <= minutes;
}

WaitingMessage ClassifyWaitingMessage(std::uint32_t message) {
  constexpr std::uint32_t kQuit = 0x0012;
  if (message == kQuit) return WaitingMessage::kDropSilently;
  const bool non_client_mouse = message >= 0x00A1 && message <= 0x00A9;
  const bool keys = (message >= 0x0100 && message <= 0x0102) || (message >= 0x0104 && message <= 0x0106);
  const bool client_mouse = message >= 0x0201 && message <= 0x0209;
  return non_client_mouse || keys || client_mouse ? WaitingMessage::kDropWithBeep : WaitingMessage::kDispatch;
}

bool SendingWillHappen(const SendDecision& d) {
  return d.send_possible && !d.duplicate && (!d.dialog_shown || d.user_kept_send_choice);
}

}  // namespace vellum::exceptlog
