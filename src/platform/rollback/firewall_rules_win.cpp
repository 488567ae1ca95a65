#include "platform/rollback/firewall_rules_win.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <future>
#include <memory>
#include <thread>
#include <utility>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/proc_address_win.h"
#include "common/unique_handle_win.h"
#include "common/unique_resource.h"
#include "common/wide.h"

#include <netfw.h>
#include <objbase.h>

namespace nuv {
namespace {

// An interface pointer, released once.
template <class Interface>
struct ComTraits {
  using Pointer = Interface*;
  using CloseGuard = LastErrorKeeper;  // a close never changes the caller's error
  static Pointer invalid() { return nullptr; }
  static void close(Pointer object) { object->Release(); }
};
template <class Interface>
using UniqueCom = UniqueResource<ComTraits<Interface>>;

// oleaut32.dll is loaded by the worker, only when the firewall is asked, and
// is no import of the program.
using SysAllocStringLenFunction = BSTR WINAPI(const OLECHAR*, UINT);
using SysFreeStringFunction = void WINAPI(BSTR);

// A BSTR and the entry point that frees it.
struct AllocatedBstr {
  BSTR text = nullptr;
  SysFreeStringFunction* free_string = nullptr;
  bool operator==(const AllocatedBstr&) const = default;
};
struct BstrTraits {
  using Pointer = AllocatedBstr;
  using CloseGuard = LastErrorKeeper;  // a close never changes the caller's error
  static Pointer invalid() { return {}; }
  static void close(const Pointer& allocated) { allocated.free_string(allocated.text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

// COM initialised on the calling thread: true when CoInitializeEx succeeded
// and CoUninitialize is owed.
struct ComApartmentTraits {
  using Pointer = bool;
  using CloseGuard = LastErrorKeeper;  // a close never changes the caller's error
  static Pointer invalid() { return false; }
  static void close(Pointer /*initialised*/) { ::CoUninitialize(); }
};
using UniqueComApartment = UniqueResource<ComApartmentTraits>;

// Which call gave the worker's answer; the text is made on the waiting side,
// so that the worker allocates nothing after its COM work.
enum class Step : std::uint8_t { kLoad, kInitialize, kCreate, kRules, kName, kItem };

struct FirewallAnswer {
  Step step = Step::kItem;
  HRESULT result = S_OK;
};

const char* step_name(Step step) {
  switch (step) {
    case Step::kLoad:
      return "Loading oleaut32.dll";
    case Step::kInitialize:
      return "CoInitializeEx";
    case Step::kCreate:
      return "CoCreateInstance(NetFwPolicy2)";
    case Step::kRules:
      return "INetFwPolicy2::get_Rules";
    case Step::kName:
      return "SysAllocStringLen";
    case Step::kItem:
      return "INetFwRules::Item";
  }
  return "?";
}

// The COM conversation, on the worker thread, which owns COM's
// initialisation and every object. Objects go before CoUninitialize, and
// oleaut32.dll after it.
FirewallAnswer ask_firewall(const std::wstring& rule_name) {
  const UniqueModule oleaut32(
      ::LoadLibraryExW(L"oleaut32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32));
  const auto alloc_string =
      oleaut32 ? proc_address<SysAllocStringLenFunction>(oleaut32.get(), "SysAllocStringLen")
               : nullptr;
  const auto free_string =
      oleaut32 ? proc_address<SysFreeStringFunction>(oleaut32.get(), "SysFreeString") : nullptr;
  if (alloc_string == nullptr || free_string == nullptr) {
    return {Step::kLoad, HRESULT_FROM_WIN32(::GetLastError())};
  }

  UniqueComApartment apartment;
  const HRESULT initialised = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  if (FAILED(initialised)) return {Step::kInitialize, initialised};
  apartment.reset(true);

  UniqueCom<INetFwPolicy2> policy;
  HRESULT hr = ::CoCreateInstance(__uuidof(NetFwPolicy2), nullptr, CLSCTX_INPROC_SERVER,
                                  __uuidof(INetFwPolicy2), reinterpret_cast<void**>(policy.put()));
  if (FAILED(hr)) return {Step::kCreate, hr};
  UniqueCom<INetFwRules> rules;
  hr = policy.get()->get_Rules(rules.put());
  if (FAILED(hr)) return {Step::kRules, hr};
  const UniqueBstr name(AllocatedBstr{
      alloc_string(rule_name.data(), static_cast<UINT>(rule_name.size())), free_string});
  if (name.get().text == nullptr) return {Step::kName, E_OUTOFMEMORY};
  UniqueCom<INetFwRule> rule;
  hr = rules.get()->Item(name.get().text, rule.put());
  return {Step::kItem, hr};
}

// "0x80004001 (Not implemented)": the code, and the system's text when it has one.
std::string hresult_text(HRESULT hr) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(hr));
  std::string text = hex;
  const auto messages = system_message_texts(static_cast<std::uint32_t>(hr));
  if (!messages.empty()) {
    std::string message = messages.front();
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
      message.pop_back();
    }
    if (!message.empty()) text += " (" + message + ")";
  }
  return text;
}

// A question's course: the worker and the waiter each try to move it out of
// kAsking, and whichever comes second knows the other's outcome.
enum class Course : int { kAsking, kAnswered, kAbandoned };

// Workers whose waiter gave up and that have not answered yet. While one is
// stuck in the firewall service, another question would most likely be stuck
// behind it: it fails at once instead of adding a thread and a wait of its
// own, so that reading back many rules costs one wait, not one each.
std::atomic<int> abandoned_workers{0};

// The worker's side: the answer goes to the promise, and a worker whose
// waiter is gone takes itself off the count of the abandoned.
void answer_question(std::promise<FirewallAnswer>& promise, std::atomic<Course>& course,
                     const std::wstring& rule_name) {
  promise.set_value(ask_firewall(rule_name));
  Course asking = Course::kAsking;
  if (!course.compare_exchange_strong(asking, Course::kAnswered)) --abandoned_workers;
}

std::string duration_text(std::chrono::milliseconds limit) {
  if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
  return std::to_string(limit.count()) + " ms";
}

}  // namespace

Result<bool, std::string> firewall_rule_exists(const std::string& rule_name,
                                               std::chrono::milliseconds limit) {
  auto wide_name = to_wide(rule_name);
  if (!wide_name) return unexpected(std::string("the rule's name is not valid UTF-8"));

  if (abandoned_workers.load() > 0) {
    return unexpected(std::string("the firewall has not answered an earlier question yet"));
  }

  // The worker owns the promise, the name and a share of the question's
  // course; the future's state and the course live as long as either side
  // holds them. A worker that outlives this call sets a value nobody reads.
  std::promise<FirewallAnswer> promise;
  std::future<FirewallAnswer> answer = promise.get_future();
  std::shared_ptr<std::atomic<Course>> course;
  try {
    course = std::make_shared<std::atomic<Course>>(Course::kAsking);
    std::thread([promise = std::move(promise), course, name = std::move(*wide_name)]() mutable {
      answer_question(promise, *course, name);
    }).detach();
  } catch (const std::exception& e) {
    return unexpected(std::string("no thread for the firewall's question: ") + e.what());
  }

  // The only wait of the read-back that depends on another process: bounded.
  if (answer.wait_for(limit) != std::future_status::ready) {
    // Counted before the worker can see itself abandoned, so that its
    // decrement always follows this increment.
    ++abandoned_workers;
    Course asking = Course::kAsking;
    if (course->compare_exchange_strong(asking, Course::kAbandoned)) {
      return unexpected("the firewall did not answer within " + duration_text(limit));
    }
    --abandoned_workers;  // the answer came in just now
  }
  const FirewallAnswer got = answer.get();
  if (got.step == Step::kItem) {
    if (SUCCEEDED(got.result)) return true;
    if (got.result == HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)) return false;
    return unexpected("the firewall answered " + hresult_text(got.result));
  }
  return unexpected(std::string(step_name(got.step)) + " failed with " + hresult_text(got.result));
}

}  // namespace nuv
