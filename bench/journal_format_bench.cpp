// parse_journal and format_journal on a journal of 100 000 mixed records,
// against nlohmann's DOM parse and dump(2) of the same text in the same run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "state/journal_format.h"
#include "table_row.h"

#ifdef _WIN32
#include "common/win32.h"
#include <psapi.h>
#else
#include <sys/resource.h>
#endif

namespace {

double peak_memory_mib() {
#ifdef _WIN32
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  return static_cast<double>(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
#endif
}

std::vector<nuv::SystemChange> mixed_journal(std::size_t count) {
  std::vector<nuv::SystemChange> changes;
  changes.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 6) {
      case 0:
        changes.push_back(nuv::TunInterfaceUp{"utun-nuv " + n, "10.8." + n, "255.255.255.0"});
        break;
      case 1:
        changes.push_back(nuv::RouteAdded{"10." + n + ".0/24", "10.8.0.1", std::nullopt, 25u});
        break;
      case 2:
        changes.push_back(nuv::DnsOverridden{"Ethernet " + n, 12u, {"1.1.1.1", "9.9.9.9"}});
        break;
      case 3:
        changes.push_back(nuv::FirewallRuleAdded{"NUV \"block\"\t" + n + " \xE2\x80\x94"});
        break;
      case 4:
        changes.push_back(nuv::SystemProxySet{true, "proxy:" + n});
        break;
      default:
        changes.push_back(nuv::CustomCommand{"step " + n, {"netsh", "interface", n}});
        break;
    }
  }
  return changes;
}

// The best of a few runs, in milliseconds.
double best_ms(const std::function<void()>& work, int runs = 5) {
  double best = 1e300;
  for (int i = 0; i < runs; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    best = std::min(best, took.count());
  }
  return best;
}

}  // namespace

int main() {
  const auto changes = mixed_journal(100'000);
  const std::string text = nuv::format_journal(changes);

  const double peak_before = peak_memory_mib();
  double peak_after_parse = 0;
  {
    const auto parsed = nuv::parse_journal(text);
    peak_after_parse = peak_memory_mib();
    if (!parsed || *parsed != changes) {
      std::fprintf(stderr, "parse_journal did not read back the records\n");
      return 1;
    }
  }  // the records are freed before the timings

  std::size_t sink = 0;
  const double parse = best_ms([&] { sink += nuv::parse_journal(text)->size(); });
  const double dom_parse = best_ms([&] { sink += nlohmann::json::parse(text).size(); });
  const auto dom = nlohmann::json::parse(text);
  const double format = best_ms([&] { sink += nuv::format_journal(changes).size(); });
  const double dump = best_ms([&] { sink += dom.dump(2).size(); });

  std::printf("journal: 100000 records, %.1f MiB of text\n",
              static_cast<double>(text.size()) / (1024.0 * 1024.0));
  std::printf("%-34s %10s %10s %7s %7s\n", "measure", "this (ms)", "base (ms)", "ratio", "target");
  std::printf("%-34s %10.1f %10.1f %7.2f %7s\n", "parse_journal / json::parse", parse, dom_parse,
              parse / dom_parse, "<=1.5");
  std::printf("%-34s %10.1f %10.1f %7.2f %7s\n", "format_journal / dump(2)", format, dump,
              format / dump, "<=1.5");
  std::printf(
      "peak memory: %.1f MiB before parse_journal, %.1f MiB after (records and text held)\n",
      peak_before, peak_after_parse);

  using nuv::bench::figure;
  nuv::bench::table_row("parse_journal, 100 000 records", figure("%.1f ms", parse),
                        figure("%.1f ms (json::parse)", dom_parse),
                        figure("%.2f", parse / dom_parse), "<= 1.5");
  nuv::bench::table_row("format_journal, 100 000 records", figure("%.1f ms", format),
                        figure("%.1f ms (dump(2))", dump), figure("%.2f", format / dump), "<= 1.5");
  nuv::bench::table_row("peak working set after parse_journal",
                        figure("%.1f MiB", peak_after_parse),
                        figure("%.1f MiB before", peak_before), "", "");
  return sink == 0;
}
