#include "state/journal_format.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include <nlohmann/json.hpp>

namespace nuv {
namespace {

using Json = nlohmann::json;

// Arrays and objects nest at most this deep, the top level counting as one.
constexpr int kMaxDepth = 127;

enum class FieldType { String, OptionalString, U32, OptionalU32, U64, Bool, StringList };

struct FieldSpec {
  std::string_view name;
  FieldType type;
};

bool is_optional(FieldType type) {
  return type == FieldType::OptionalString || type == FieldType::OptionalU32;
}

// A record's fields in declared order; the order is that of the array form and
// of the written layout.
struct RecordSpec {
  std::string_view name;
  std::array<FieldSpec, 4> fields;
  std::size_t field_count;
};

constexpr std::array<RecordSpec, 6> kKinds{{
    {"TunInterfaceUp",
     {{{"interface", FieldType::String},
       {"address", FieldType::String},
       {"netmask", FieldType::String}}},
     3},
    {"RouteAdded",
     {{{"destination", FieldType::String},
       {"gateway", FieldType::OptionalString},
       {"interface", FieldType::OptionalString},
       {"metric", FieldType::OptionalU32}}},
     4},
    {"DnsOverridden",
     {{{"interface", FieldType::String},
       {"interface_index", FieldType::OptionalU32},
       {"original_servers", FieldType::StringList}}},
     3},
    {"FirewallRuleAdded", {{{"rule_name", FieldType::String}}}, 1},
    {"SystemProxySet",
     {{{"original_enabled", FieldType::Bool}, {"original_server", FieldType::OptionalString}}},
     2},
    {"CustomCommand",
     {{{"description", FieldType::String}, {"reverse_command", FieldType::StringList}}},
     2},
}};

constexpr RecordSpec kMetaSpec{
    "meta",
    {{{"partial_rollback_count", FieldType::U32}, {"last_partial_rollback_unix", FieldType::U64}}},
    2};

// The values of one record's fields as they are read, in declared order.
struct FieldValue {
  bool seen = false;
  bool null = false;
  std::string text;
  std::uint64_t number = 0;
  bool flag = false;
  std::vector<std::string> list;
};

std::optional<std::string> take_optional(FieldValue& v) {
  if (!v.seen || v.null) return std::nullopt;
  return std::move(v.text);
}

std::optional<std::uint32_t> take_optional_u32(const FieldValue& v) {
  if (!v.seen || v.null) return std::nullopt;
  return static_cast<std::uint32_t>(v.number);
}

SystemChange build_change(std::size_t kind, std::array<FieldValue, 4>& v) {
  switch (kind) {
    case 0:
      return TunInterfaceUp{std::move(v[0].text), std::move(v[1].text), std::move(v[2].text)};
    case 1:
      return RouteAdded{std::move(v[0].text), take_optional(v[1]), take_optional(v[2]),
                        take_optional_u32(v[3])};
    case 2:
      return DnsOverridden{std::move(v[0].text), take_optional_u32(v[1]), std::move(v[2].list)};
    case 3:
      return FirewallRuleAdded{std::move(v[0].text)};
    case 4:
      return SystemProxySet{v[0].flag, take_optional(v[1])};
    default:
      return CustomCommand{std::move(v[0].text), std::move(v[1].list)};
  }
}

// Turns the parser's events into records, refusing everything the format
// refuses. Every callback returns false on the first fault, which stops the
// parse.
class Reader {
 public:
  enum class Mode { Journal, Meta };
  explicit Reader(Mode mode) : mode_(mode) {}

  std::vector<SystemChange> changes;
  SystemStateMeta meta;
  [[nodiscard]] bool done() const { return state_ == State::Done; }

  bool null() { return scalar(Scalar::Null); }
  bool boolean(bool value) {
    flag_ = value;
    return scalar(Scalar::Bool);
  }
  bool number_integer(Json::number_integer_t) { return scalar(Scalar::Other); }
  bool number_unsigned(Json::number_unsigned_t value) {
    number_ = value;
    return scalar(Scalar::Unsigned);
  }
  bool number_float(Json::number_float_t, const Json::string_t&) { return scalar(Scalar::Other); }
  bool binary(Json::binary_t&) { return false; }
  bool string(Json::string_t& value) {
    text_ = &value;
    return scalar(Scalar::String);
  }

  bool start_object(std::size_t) {
    if (++depth_ > kMaxDepth) return false;
    switch (state_) {
      case State::Top:
        if (mode_ == Mode::Journal) return false;
        begin_body(kMetaSpec, State::BodyKey);
        return true;
      case State::Elements:
        state_ = State::Kind;
        return true;
      case State::Body:
        state_ = State::BodyKey;
        return true;
      case State::Skip:
        ++skip_depth_;
        return true;
      default:
        return false;
    }
  }

  bool start_array(std::size_t) {
    if (++depth_ > kMaxDepth) return false;
    switch (state_) {
      case State::Top:
        if (mode_ == Mode::Journal) {
          state_ = State::Elements;
        } else {
          begin_body(kMetaSpec, State::BodyItem);
        }
        return true;
      case State::Body:
        state_ = State::BodyItem;
        return true;
      case State::FieldValue:
      case State::BodyItem:
        if (state_ == State::BodyItem && !next_item()) return false;
        if (spec_->fields[field_].type != FieldType::StringList) return false;
        field_state_ = state_;
        state_ = State::List;
        return true;
      case State::Skip:
        ++skip_depth_;
        return true;
      default:
        return false;
    }
  }

  bool key(Json::string_t& name) {
    switch (state_) {
      case State::Kind:
        for (std::size_t i = 0; i < kKinds.size(); ++i) {
          if (kKinds[i].name == name) {
            kind_ = i;
            begin_body(kKinds[i], State::Body);
            return true;
          }
        }
        return false;
      case State::BodyKey:
        for (std::size_t i = 0; i < spec_->field_count; ++i) {
          if (spec_->fields[i].name == name) {
            if (values_[i].seen) return false;
            field_ = i;
            state_ = State::FieldValue;
            return true;
          }
        }
        state_ = State::Skip;
        skip_depth_ = 0;
        return true;
      case State::Skip:
        return true;
      default:
        return false;  // includes a second member beside the kind
    }
  }

  bool end_object() {
    --depth_;
    switch (state_) {
      case State::BodyKey:
        return end_body();
      case State::ElementEnd:
        state_ = State::Elements;
        return true;
      case State::Skip:
        return end_skipped_container();
      default:
        return false;
    }
  }

  bool end_array() {
    --depth_;
    switch (state_) {
      case State::Elements:
        state_ = State::Done;
        return true;
      case State::BodyItem:
        // Exactly one element per field, no fewer and no more.
        if ((field_ == kNoField ? 0 : field_ + 1) != spec_->field_count) return false;
        return end_body();
      case State::List:
        values_[field_].seen = true;
        state_ = field_state_ == State::BodyItem ? State::BodyItem : State::BodyKey;
        return true;
      case State::Skip:
        return end_skipped_container();
      default:
        return false;
    }
  }

  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception&) {
    syntax_error_at = position;
    return false;
  }

  // Where the text stopped being JSON, when that is why it was refused.
  std::optional<std::size_t> syntax_error_at;

 private:
  enum class State {
    Top,
    Elements,
    Kind,
    Body,
    BodyKey,
    BodyItem,
    FieldValue,
    List,
    Skip,
    ElementEnd,
    Done
  };
  enum class Scalar { Null, Bool, Unsigned, String, Other };
  static constexpr std::size_t kNoField = std::numeric_limits<std::size_t>::max();

  void begin_body(const RecordSpec& record, State next) {
    spec_ = &record;
    values_ = {};
    field_ = kNoField;
    state_ = next;
  }

  // In the array form the fields come in declared order, one per element.
  bool next_item() {
    field_ = field_ == kNoField ? 0 : field_ + 1;
    return field_ < spec_->field_count;
  }

  bool scalar(Scalar kind) {
    switch (state_) {
      case State::Skip:
        if (skip_depth_ == 0) state_ = State::BodyKey;
        return true;
      case State::List:
        if (kind != Scalar::String) return false;
        values_[field_].list.push_back(std::move(*text_));
        return true;
      case State::BodyItem:
        if (!next_item()) return false;
        if (!set_field(kind)) return false;
        return true;
      case State::FieldValue:
        if (!set_field(kind)) return false;
        state_ = State::BodyKey;
        return true;
      default:
        return false;
    }
  }

  bool set_field(Scalar kind) {
    const FieldType type = spec_->fields[field_].type;
    FieldValue& value = values_[field_];
    value.seen = true;
    switch (kind) {
      case Scalar::Null:
        value.null = true;
        return is_optional(type);
      case Scalar::Bool:
        value.flag = flag_;
        return type == FieldType::Bool;
      case Scalar::String:
        value.text = std::move(*text_);
        return type == FieldType::String || type == FieldType::OptionalString;
      case Scalar::Unsigned:
        value.number = number_;
        if (type == FieldType::U64) return true;
        return (type == FieldType::U32 || type == FieldType::OptionalU32) &&
               number_ <= std::numeric_limits<std::uint32_t>::max();
      case Scalar::Other:
        return false;
    }
    return false;
  }

  bool end_skipped_container() {
    if (--skip_depth_ == 0) state_ = State::BodyKey;
    return skip_depth_ >= 0;
  }

  bool end_body() {
    for (std::size_t i = 0; i < spec_->field_count; ++i) {
      if (!values_[i].seen && !is_optional(spec_->fields[i].type)) return false;
    }
    if (mode_ == Mode::Meta) {
      meta.partial_rollback_count = static_cast<std::uint32_t>(values_[0].number);
      meta.last_partial_rollback_unix = values_[1].number;
      state_ = State::Done;
    } else {
      changes.push_back(build_change(kind_, values_));
      state_ = State::ElementEnd;
    }
    return true;
  }

  Mode mode_;
  State state_ = State::Top;
  State field_state_ = State::Top;  // where a string list returns to
  int depth_ = 0;
  int skip_depth_ = 0;
  const RecordSpec* spec_ = nullptr;
  std::size_t kind_ = 0;
  std::size_t field_ = kNoField;
  std::array<FieldValue, 4> values_;

  // The scalar of the current event.
  bool flag_ = false;
  std::uint64_t number_ = 0;
  Json::string_t* text_ = nullptr;
};

// `fault`, when given, gets a short reason for a refusal.
bool run_reader(std::string_view text, Reader& reader, std::string* fault = nullptr) {
  const auto refuse = [fault](std::string reason) {
    if (fault) *fault = std::move(reason);
    return false;
  };
  // The parser would skip a byte-order mark; the format has none.
  if (text.starts_with("\xEF\xBB\xBF")) return refuse("it starts with a byte-order mark");
  // The parser takes a NUL byte for the end of the text; JSON allows none
  // anywhere, neither between tokens nor raw inside a string.
  if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
    return refuse("it holds a NUL byte at byte " + std::to_string(nul));
  }
  try {
    if (Json::sax_parse(text.begin(), text.end(), &reader, Json::input_format_t::json,
                        /*strict=*/true, /*ignore_comments=*/false) &&
        reader.done()) {
      return true;
    }
  } catch (...) {
    // whatever the parser may throw, the text counts as invalid
  }
  if (reader.syntax_error_at) {
    return refuse("it is not JSON (syntax error near byte " +
                  std::to_string(*reader.syntax_error_at) + ")");
  }
  return refuse("it is JSON, but not a list of known records with their fields");
}

// ---- writing ----

class Writer {
 public:
  explicit Writer(std::string& out) : out_(out) {}

  void indent(int level) { out_.append(static_cast<std::size_t>(level) * 2, ' '); }

  void string(std::string_view text) {
    static constexpr std::string_view kHex = "0123456789abcdef";
    out_ += '"';
    std::size_t run = 0;  // start of the bytes written unchanged
    for (std::size_t i = 0; i < text.size(); ++i) {
      const auto c = static_cast<unsigned char>(text[i]);
      if (c >= 0x20 && c != '"' && c != '\\') continue;
      out_.append(text, run, i - run);
      run = i + 1;
      switch (c) {
        case '"':
          out_ += "\\\"";
          break;
        case '\\':
          out_ += "\\\\";
          break;
        case '\b':
          out_ += "\\b";
          break;
        case '\t':
          out_ += "\\t";
          break;
        case '\n':
          out_ += "\\n";
          break;
        case '\f':
          out_ += "\\f";
          break;
        case '\r':
          out_ += "\\r";
          break;
        default:
          out_ += "\\u00";
          out_ += kHex[c >> 4];
          out_ += kHex[c & 0xF];
      }
    }
    out_.append(text, run, text.size() - run);
    out_ += '"';
  }

  void number(std::uint64_t value) {
    std::array<char, 24> buffer;
    const auto end = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value).ptr;
    out_.append(buffer.data(), end);
  }

  // Starts a member line: indentation, key, colon and space.
  void key(int level, std::string_view name) {
    indent(level);
    out_ += '"';
    out_ += name;
    out_ += "\": ";
  }

  void end_member(bool last) { out_ += last ? "\n" : ",\n"; }

  void value(std::string_view text, int) { string(text); }
  void value(std::uint32_t n, int) { number(n); }
  void value(bool flag, int) { out_ += flag ? "true" : "false"; }
  template <class T>
  void value(const std::optional<T>& v, int level) {
    if (v) {
      value(*v, level);
    } else {
      out_ += "null";
    }
  }
  void value(const std::vector<std::string>& list, int level) {
    if (list.empty()) {
      out_ += "[]";
      return;
    }
    out_ += "[\n";
    for (std::size_t i = 0; i < list.size(); ++i) {
      indent(level + 1);
      string(list[i]);
      end_member(i + 1 == list.size());
    }
    indent(level);
    out_ += ']';
  }

  template <class T>
  void member(int level, std::string_view name, const T& v, bool last) {
    key(level, name);
    value(v, level);
    end_member(last);
  }

  void fields(const TunInterfaceUp& c, int l) {
    member(l, "interface", c.interface_name, false);
    member(l, "address", c.address, false);
    member(l, "netmask", c.netmask, true);
  }
  void fields(const RouteAdded& c, int l) {
    member(l, "destination", c.destination, false);
    member(l, "gateway", c.gateway, false);
    member(l, "interface", c.interface_name, false);
    member(l, "metric", c.metric, true);
  }
  void fields(const DnsOverridden& c, int l) {
    member(l, "interface", c.interface_name, false);
    member(l, "interface_index", c.interface_index, false);
    member(l, "original_servers", c.original_servers, true);
  }
  void fields(const FirewallRuleAdded& c, int l) { member(l, "rule_name", c.rule_name, true); }
  void fields(const SystemProxySet& c, int l) {
    member(l, "original_enabled", c.original_enabled, false);
    member(l, "original_server", c.original_server, true);
  }
  void fields(const CustomCommand& c, int l) {
    member(l, "description", c.description, false);
    member(l, "reverse_command", c.reverse_command, true);
  }

 private:
  std::string& out_;
};

}  // namespace

std::optional<std::vector<SystemChange>> parse_journal(std::string_view text, std::string* fault) {
  Reader reader(Reader::Mode::Journal);
  if (!run_reader(text, reader, fault)) return std::nullopt;
  return std::move(reader.changes);
}

std::optional<SystemStateMeta> parse_meta(std::string_view text) {
  Reader reader(Reader::Mode::Meta);
  if (!run_reader(text, reader)) return std::nullopt;
  return reader.meta;
}

std::string format_journal(const std::vector<SystemChange>& changes) {
  if (changes.empty()) return "[]";
  std::string out;
  out.reserve(changes.size() * 160);
  Writer writer(out);
  out += "[\n";
  for (std::size_t i = 0; i < changes.size(); ++i) {
    out += "  {\n";
    std::visit(
        [&](const auto& change) {
          writer.key(2, kKinds[changes[i].index()].name);
          out += "{\n";
          writer.fields(change, 3);
          out += "    }\n";
        },
        changes[i]);
    out += i + 1 == changes.size() ? "  }\n" : "  },\n";
  }
  out += ']';
  return out;
}

std::string format_meta(const SystemStateMeta& meta) {
  std::string out = "{\n";
  Writer writer(out);
  writer.key(1, "partial_rollback_count");
  writer.number(meta.partial_rollback_count);
  writer.end_member(false);
  writer.key(1, "last_partial_rollback_unix");
  writer.number(meta.last_partial_rollback_unix);
  writer.end_member(true);
  out += '}';
  return out;
}

}  // namespace nuv
