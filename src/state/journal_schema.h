// The journal's and the meta file's records as they appear in the text: each
// kind's name, its fields' names, their order and their types, declared once
// here. The reader and the writer both walk these declarations, so that a name
// or an order cannot differ between what is written and what is read back.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "state/system_change.h"

namespace nuv::journal_schema {

// What a field holds in the text. An optional field may be null or left out
// (both read as absent); every other field must be there and not null.
enum class FieldType { kString, kOptionalString, kU32, kOptionalU32, kU64, kBool, kStringList };

// The field type of a record member follows from its C++ type, so that the
// declaration cannot contradict the record; a member type without one here
// does not compile.
template <class Member>
struct FieldTypeOf;
template <>
struct FieldTypeOf<std::string> : std::integral_constant<FieldType, FieldType::kString> {};
template <>
struct FieldTypeOf<std::optional<std::string>>
    : std::integral_constant<FieldType, FieldType::kOptionalString> {};
template <>
struct FieldTypeOf<std::uint32_t> : std::integral_constant<FieldType, FieldType::kU32> {};
template <>
struct FieldTypeOf<std::optional<std::uint32_t>>
    : std::integral_constant<FieldType, FieldType::kOptionalU32> {};
template <>
struct FieldTypeOf<std::uint64_t> : std::integral_constant<FieldType, FieldType::kU64> {};
template <>
struct FieldTypeOf<bool> : std::integral_constant<FieldType, FieldType::kBool> {};
template <>
struct FieldTypeOf<std::vector<std::string>>
    : std::integral_constant<FieldType, FieldType::kStringList> {};

constexpr bool is_optional(FieldType type) {
  return type == FieldType::kOptionalString || type == FieldType::kOptionalU32;
}

// One field: its name in the text and the record member that holds it.
template <class Record, class Member>
struct Field {
  using RecordType = Record;
  using MemberType = Member;
  static constexpr FieldType type = FieldTypeOf<Member>::value;
  std::string_view name;
  Member Record::*member;
};

template <class Record, class Member>
constexpr Field<Record, Member> field(std::string_view name, Member Record::*member) {
  return {name, member};
}

// Each record's fields, in the order of the array form and of the written
// layout. A journal record also has its kind's name, the key of its element.
// There is deliberately no primary definition: a record without a schema does
// not compile wherever the reader or the writer meets it.
template <class Record>
struct RecordSchema;

template <>
struct RecordSchema<TunInterfaceUp> {
  static constexpr std::string_view kind = "TunInterfaceUp";
  static constexpr std::tuple fields{
      field("interface", &TunInterfaceUp::interface_name),
      field("address", &TunInterfaceUp::address),
      field("netmask", &TunInterfaceUp::netmask),
  };
};

template <>
struct RecordSchema<RouteAdded> {
  static constexpr std::string_view kind = "RouteAdded";
  static constexpr std::tuple fields{
      field("destination", &RouteAdded::destination),
      field("gateway", &RouteAdded::gateway),
      field("interface", &RouteAdded::interface_name),
      field("metric", &RouteAdded::metric),
  };
};

template <>
struct RecordSchema<DnsOverridden> {
  static constexpr std::string_view kind = "DnsOverridden";
  static constexpr std::tuple fields{
      field("interface", &DnsOverridden::interface_name),
      field("interface_index", &DnsOverridden::interface_index),
      field("original_servers", &DnsOverridden::original_servers),
  };
};

template <>
struct RecordSchema<FirewallRuleAdded> {
  static constexpr std::string_view kind = "FirewallRuleAdded";
  static constexpr std::tuple fields{
      field("rule_name", &FirewallRuleAdded::rule_name),
  };
};

template <>
struct RecordSchema<SystemProxySet> {
  static constexpr std::string_view kind = "SystemProxySet";
  static constexpr std::tuple fields{
      field("original_enabled", &SystemProxySet::original_enabled),
      field("original_server", &SystemProxySet::original_server),
  };
};

template <>
struct RecordSchema<CustomCommand> {
  static constexpr std::string_view kind = "CustomCommand";
  static constexpr std::tuple fields{
      field("description", &CustomCommand::description),
      field("reverse_command", &CustomCommand::reverse_command),
  };
};

// The meta file is one record with no kind around it.
template <>
struct RecordSchema<SystemStateMeta> {
  static constexpr std::tuple fields{
      field("partial_rollback_count", &SystemStateMeta::partial_rollback_count),
      field("last_partial_rollback_unix", &SystemStateMeta::last_partial_rollback_unix),
  };
};

// ---- checks that the declarations are complete ----

template <class Record>
constexpr std::size_t field_count = std::tuple_size_v<decltype(RecordSchema<Record>::fields)>;

// Stands for any member's value when counting a record's members.
struct AnyMember {
  template <class T>
  operator T() const;  // declared only: it is used unevaluated
};

// Whether `Record{v1, ..., vN}` compiles, which for these plain aggregates
// means that the record has at least `N` members.
template <class Record, std::size_t... I>
constexpr bool takes_initialisers(std::index_sequence<I...>) {
  return requires { Record{(static_cast<void>(I), AnyMember{})...}; };
}

// A record's schema names every member of the record once: a member added to
// a record without its field here would silently be neither written nor read.
template <class Record>
constexpr bool names_every_member() {
  constexpr std::size_t count = field_count<Record>;
  return takes_initialisers<Record>(std::make_index_sequence<count>{}) &&
         !takes_initialisers<Record>(std::make_index_sequence<count + 1>{});
}

template <class Record>
constexpr bool fields_belong_to() {
  return std::apply(
      [](const auto&... f) {
        return (std::is_same_v<typename std::remove_cvref_t<decltype(f)>::RecordType, Record> &&
                ...);
      },
      RecordSchema<Record>::fields);
}

template <std::size_t N>
constexpr bool all_different(const std::array<std::string_view, N>& names) {
  for (std::size_t i = 0; i < N; ++i) {
    for (std::size_t j = i + 1; j < N; ++j) {
      if (names[i] == names[j]) return false;
    }
  }
  return true;
}

template <class Record>
constexpr bool field_names_unique() {
  return std::apply(
      [](const auto&... f) {
        return all_different(std::array<std::string_view, sizeof...(f)>{f.name...});
      },
      RecordSchema<Record>::fields);
}

template <class Record>
concept JournalKind = requires {
  { RecordSchema<Record>::kind } -> std::convertible_to<std::string_view>;
  RecordSchema<Record>::fields;
};

template <class Record>
constexpr bool schema_complete() {
  static_assert(fields_belong_to<Record>(), "a field of another record in this schema");
  static_assert(names_every_member<Record>(), "the schema must name every member of the record");
  static_assert(field_names_unique<Record>(), "two fields of one record share a name");
  return true;
}

// ---- the kinds, by the index of their alternative in SystemChange ----

inline constexpr std::size_t kKindCount = std::variant_size_v<SystemChange>;

template <std::size_t I>
using KindAt = std::variant_alternative_t<I, SystemChange>;

template <std::size_t... I>
constexpr bool every_alternative_has_schema(std::index_sequence<I...>) {
  static_assert((JournalKind<KindAt<I>> && ...),
                "every alternative of SystemChange needs its RecordSchema with a kind name");
  return (schema_complete<KindAt<I>>() && ...);
}
static_assert(every_alternative_has_schema(std::make_index_sequence<kKindCount>{}));
static_assert(schema_complete<SystemStateMeta>());

template <std::size_t... I>
constexpr std::array<std::string_view, sizeof...(I)> kind_names(std::index_sequence<I...>) {
  return {RecordSchema<KindAt<I>>::kind...};
}

// The kinds' names; entry `i` names the alternative `i` of SystemChange.
inline constexpr auto kKindNames = kind_names(std::make_index_sequence<kKindCount>{});
static_assert(kKindNames.size() == std::variant_size_v<SystemChange>);
static_assert(all_different(kKindNames), "two kinds share a name");

// ---- the same declarations as plain data, for the reader's state machine ----

template <std::size_t... I>
constexpr std::size_t most_fields(std::index_sequence<I...>) {
  std::size_t most = field_count<SystemStateMeta>;
  ((most = field_count<KindAt<I>> > most ? field_count<KindAt<I>> : most), ...);
  return most;
}
inline constexpr std::size_t kMaxFields = most_fields(std::make_index_sequence<kKindCount>{});

struct FieldShape {
  std::string_view name;
  FieldType type = FieldType::kString;
};

struct RecordShape {
  std::array<FieldShape, kMaxFields> fields{};
  std::size_t field_count = 0;
};

template <class Record>
constexpr RecordShape shape_of() {
  RecordShape shape;
  std::apply(
      [&shape](const auto&... f) {
        ((shape.fields[shape.field_count++] = FieldShape{f.name, f.type}), ...);
      },
      RecordSchema<Record>::fields);
  return shape;
}

template <std::size_t... I>
constexpr std::array<RecordShape, sizeof...(I)> kind_shapes(std::index_sequence<I...>) {
  return {shape_of<KindAt<I>>()...};
}

// Entry `i` describes the alternative `i` of SystemChange.
inline constexpr auto kKindShapes = kind_shapes(std::make_index_sequence<kKindCount>{});
inline constexpr RecordShape kMetaShape = shape_of<SystemStateMeta>();

}  // namespace nuv::journal_schema
