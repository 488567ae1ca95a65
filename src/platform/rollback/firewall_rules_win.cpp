#include "platform/rollback/firewall_rules_win.h"

#include <cstdint>
#include <cstdio>
#include <exception>
#include <future>
#include <thread>
#include <utility>

#include "common/win32.h"
#include "common/os_error.h"
#include "common/unique_resource.h"
#include "common/wide.h"

#include <netfw.h>
#include <objbase.h>
#include <oleauto.h>

namespace nuv {
namespace {

// An interface pointer, released once.
template <class Interface>
struct ComTraits {
  using Pointer = Interface*;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer object) { object->Release(); }
};
template <class Interface>
using UniqueCom = UniqueResource<ComTraits<Interface>>;

struct BstrTraits {
  using Pointer = BSTR;
  static Pointer invalid() { return nullptr; }
  static void close(Pointer text) { ::SysFreeString(text); }
};
using UniqueBstr = UniqueResource<BstrTraits>;

// COM initialised on the calling thread: true when CoInitializeEx succeeded
// and CoUninitialize is owed.
struct ComApartmentTraits {
  using Pointer = bool;
  static Pointer invalid() { return false; }
  static void close(Pointer /*initialised*/) { ::CoUninitialize(); }
};
using UniqueComApartment = UniqueResource<ComApartmentTraits>;

// Which call gave the worker's answer; the text is made on the waiting side,
// so that the worker allocates nothing after its COM work.
enum class Step : std::uint8_t { kInitialize, kCreate, kRules, kName, kItem };

struct FirewallAnswer {
  Step step = Step::kItem;
  HRESULT result = S_OK;
};

const char* step_name(Step step) {
  switch (step) {
    case Step::kInitialize:
      return "CoInitializeEx";
    case Step::kCreate:
      return "CoCreateInstance(NetFwPolicy2)";
    case Step::kRules:
      return "INetFwPolicy2::get_Rules";
    case Step::kName:
      return "SysAllocString";
    case Step::kItem:
      return "INetFwRules::Item";
  }
  return "?";
}

// The COM conversation, on the worker thread, which owns COM's
// initialisation and every object. Objects go before CoUninitialize.
FirewallAnswer ask_firewall(const std::wstring& rule_name) {
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
  const UniqueBstr name(::SysAllocStringLen(rule_name.data(), static_cast<UINT>(rule_name.size())));
  if (!name) return {Step::kName, E_OUTOFMEMORY};
  UniqueCom<INetFwRule> rule;
  hr = rules.get()->Item(name.get(), rule.put());
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

std::string duration_text(std::chrono::milliseconds limit) {
  if (limit.count() % 1000 == 0) return std::to_string(limit.count() / 1000) + " s";
  return std::to_string(limit.count()) + " ms";
}

}  // namespace

Result<bool, std::string> firewall_rule_exists(const std::string& rule_name,
                                               std::chrono::milliseconds limit) {
  auto wide_name = to_wide(rule_name);
  if (!wide_name) return unexpected(std::string("the rule's name is not valid UTF-8"));

  // The worker owns the promise and the name; only the shared state of the
  // future is shared, and it lives as long as either side holds it. A worker
  // that outlives this call sets a value nobody reads.
  std::promise<FirewallAnswer> promise;
  std::future<FirewallAnswer> answer = promise.get_future();
  try {
    std::thread([promise = std::move(promise), name = std::move(*wide_name)]() mutable {
      promise.set_value(ask_firewall(name));
    }).detach();
  } catch (const std::exception& e) {
    return unexpected(std::string("no thread for the firewall's question: ") + e.what());
  }

  if (answer.wait_for(limit) != std::future_status::ready) {
    return unexpected("the firewall did not answer within " + duration_text(limit));
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
