#include "platform/rollback/read_back_win.h"

#include <string>

#include "platform/rollback/dns_servers_win.h"
#include "platform/rollback/firewall_rules_win.h"
#include "platform/rollback/ip_tables_win.h"
#include "platform/rollback/proxy_values_win.h"

namespace nuv {

ReadBackSystem windows_read_back_system() {
  ReadBackSystem system;
  system.interface_by_alias = find_interface_by_alias;
  system.interface_by_index = find_interface_by_index;
  system.unicast_addresses = read_unicast_addresses;
  system.routes = read_routes;
  system.dns_servers = read_dns_servers;
  system.firewall_rule_exists = [](const std::string& rule_name) {
    return firewall_rule_exists(rule_name);
  };
  system.proxy = read_proxy_values;
  return system;
}

}  // namespace nuv
