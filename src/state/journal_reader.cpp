// Reading the journal and the meta file: a strict, all-or-nothing walk over
// the parser's events, driven by the records' declarations in journal_schema.h.
#include "state/journal_format.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <new>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "state/journal_schema.h"

namespace nuv {
namespace {

using Json = nlohmann::json;
using journal_schema::FieldType;
using journal_schema::is_optional;
using journal_schema::kKindNames;
using journal_schema::kKindShapes;
using journal_schema::kMaxFields;
using journal_schema::kMetaShape;
using journal_schema::RecordSchema;
using journal_schema::RecordShape;

// Arrays and objects nest at most this deep, the top level counting as one.
constexpr int kMaxDepth = 127;

// The values of one record's fields as they are read, in declared order.
struct FieldValue {
  bool seen = false;
  bool null = false;
  std::string text;
  std::uint64_t number = 0;
  bool flag = false;
  std::vector<std::string> list;
};

// A field left out or given as null is absent. The reader has already checked
// each value against its field's type, so these only move it into place.
void take(FieldValue& v, std::string& member) { member = std::move(v.text); }
void take(FieldValue& v, std::optional<std::string>& member) {
  if (v.seen && !v.null) member = std::move(v.text);
}
void take(const FieldValue& v, std::uint32_t& member) {
  member = static_cast<std::uint32_t>(v.number);
}
void take(const FieldValue& v, std::optional<std::uint32_t>& member) {
  if (v.seen && !v.null) member = static_cast<std::uint32_t>(v.number);
}
void take(const FieldValue& v, std::uint64_t& member) { member = v.number; }
void take(const FieldValue& v, bool& member) { member = v.flag; }
void take(FieldValue& v, std::vector<std::string>& member) { member = std::move(v.list); }

// A record from the values of its fields, in the order of its schema.
template <class Record>
Record build(std::span<FieldValue, kMaxFields> values) {
  Record record{};
  std::apply(
      [&](const auto&... field) {
        std::size_t i = 0;
        (take(values[i++], record.*field.member), ...);
      },
      RecordSchema<Record>::fields);
  return record;
}

using ChangeBuilder = SystemChange (*)(std::span<FieldValue, kMaxFields>);

template <std::size_t... I>
constexpr std::array<ChangeBuilder, sizeof...(I)> change_builders(std::index_sequence<I...>) {
  return {[](std::span<FieldValue, kMaxFields> values) {
    return SystemChange(std::in_place_index<I>, build<journal_schema::KindAt<I>>(values));
  }...};
}

// Entry `i` builds the alternative `i` of SystemChange, the kind named by
// kKindNames[i].
constexpr auto kChangeBuilders =
    change_builders(std::make_index_sequence<journal_schema::kKindCount>{});

// Turns the parser's events into records, refusing everything the format
// refuses. Every callback returns false on the first fault, which stops the
// parse.
class Reader {
 public:
  enum class Mode { kJournal, kMeta };
  explicit Reader(Mode mode) : mode_(mode) {}

  std::vector<SystemChange> changes;
  SystemStateMeta meta;
  [[nodiscard]] bool done() const { return state_ == State::kDone; }

  bool null() { return scalar(Scalar::kNull); }
  bool boolean(bool value) {
    flag_ = value;
    return scalar(Scalar::kBool);
  }
  bool number_integer(Json::number_integer_t) { return scalar(Scalar::kOther); }
  bool number_unsigned(Json::number_unsigned_t value) {
    number_ = value;
    return scalar(Scalar::kUnsigned);
  }
  bool number_float(Json::number_float_t, const Json::string_t&) { return scalar(Scalar::kOther); }
  bool binary(Json::binary_t&) { return false; }
  bool string(Json::string_t& value) {
    text_ = &value;
    return scalar(Scalar::kString);
  }

  bool start_object(std::size_t) {
    if (++depth_ > kMaxDepth) return false;
    switch (state_) {
      case State::kTop:
        if (mode_ == Mode::kJournal) return false;
        begin_body(kMetaShape, State::kBodyKey);
        return true;
      case State::kElements:
        state_ = State::kKind;
        return true;
      case State::kBody:
        state_ = State::kBodyKey;
        return true;
      case State::kSkip:
        ++skip_depth_;
        return true;
      default:
        return false;
    }
  }

  bool start_array(std::size_t) {
    if (++depth_ > kMaxDepth) return false;
    switch (state_) {
      case State::kTop:
        if (mode_ == Mode::kJournal) {
          state_ = State::kElements;
        } else {
          begin_body(kMetaShape, State::kBodyItem);
        }
        return true;
      case State::kBody:
        state_ = State::kBodyItem;
        return true;
      case State::kFieldValue:
      case State::kBodyItem:
        if (state_ == State::kBodyItem && !next_item()) return false;
        if (spec_->fields[field_].type != FieldType::kStringList) return false;
        field_state_ = state_;
        state_ = State::kList;
        return true;
      case State::kSkip:
        ++skip_depth_;
        return true;
      default:
        return false;
    }
  }

  bool key(Json::string_t& name) {
    switch (state_) {
      case State::kKind:
        for (std::size_t i = 0; i < kKindNames.size(); ++i) {
          if (kKindNames[i] == name) {
            kind_ = i;
            begin_body(kKindShapes[i], State::kBody);
            return true;
          }
        }
        return false;
      case State::kBodyKey:
        for (std::size_t i = 0; i < spec_->field_count; ++i) {
          if (spec_->fields[i].name == name) {
            if (values_[i].seen) return false;
            field_ = i;
            state_ = State::kFieldValue;
            return true;
          }
        }
        state_ = State::kSkip;
        skip_depth_ = 0;
        return true;
      case State::kSkip:
        return true;
      default:
        return false;  // includes a second member beside the kind
    }
  }

  bool end_object() {
    --depth_;
    switch (state_) {
      case State::kBodyKey:
        return end_body();
      case State::kElementEnd:
        state_ = State::kElements;
        return true;
      case State::kSkip:
        return end_skipped_container();
      default:
        return false;
    }
  }

  bool end_array() {
    --depth_;
    switch (state_) {
      case State::kElements:
        state_ = State::kDone;
        return true;
      case State::kBodyItem:
        // Exactly one element per field, no fewer and no more.
        if ((field_ == kNoField ? 0 : field_ + 1) != spec_->field_count) return false;
        return end_body();
      case State::kList:
        values_[field_].seen = true;
        state_ = field_state_ == State::kBodyItem ? State::kBodyItem : State::kBodyKey;
        return true;
      case State::kSkip:
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
    kTop,
    kElements,
    kKind,
    kBody,
    kBodyKey,
    kBodyItem,
    kFieldValue,
    kList,
    kSkip,
    kElementEnd,
    kDone
  };
  enum class Scalar { kNull, kBool, kUnsigned, kString, kOther };
  static constexpr std::size_t kNoField = std::numeric_limits<std::size_t>::max();

  void begin_body(const RecordShape& record, State next) {
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
      case State::kSkip:
        if (skip_depth_ == 0) state_ = State::kBodyKey;
        return true;
      case State::kList:
        if (kind != Scalar::kString) return false;
        values_[field_].list.push_back(std::move(*text_));
        return true;
      case State::kBodyItem:
        if (!next_item()) return false;
        if (!set_field(kind)) return false;
        return true;
      case State::kFieldValue:
        if (!set_field(kind)) return false;
        state_ = State::kBodyKey;
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
      case Scalar::kNull:
        value.null = true;
        return is_optional(type);
      case Scalar::kBool:
        value.flag = flag_;
        return type == FieldType::kBool;
      case Scalar::kString:
        value.text = std::move(*text_);
        return type == FieldType::kString || type == FieldType::kOptionalString;
      case Scalar::kUnsigned:
        value.number = number_;
        if (type == FieldType::kU64) return true;
        return (type == FieldType::kU32 || type == FieldType::kOptionalU32) &&
               number_ <= std::numeric_limits<std::uint32_t>::max();
      case Scalar::kOther:
        return false;
    }
    return false;
  }

  bool end_skipped_container() {
    if (--skip_depth_ == 0) state_ = State::kBodyKey;
    return skip_depth_ >= 0;
  }

  bool end_body() {
    for (std::size_t i = 0; i < spec_->field_count; ++i) {
      if (!values_[i].seen && !is_optional(spec_->fields[i].type)) return false;
    }
    if (mode_ == Mode::kMeta) {
      meta = build<SystemStateMeta>(values_);
      state_ = State::kDone;
    } else {
      changes.push_back(kChangeBuilders[kind_](values_));
      state_ = State::kElementEnd;
    }
    return true;
  }

  Mode mode_;
  State state_ = State::kTop;
  State field_state_ = State::kTop;  // where a string list returns to
  int depth_ = 0;
  int skip_depth_ = 0;
  const RecordShape* spec_ = nullptr;
  std::size_t kind_ = 0;
  std::size_t field_ = kNoField;
  std::array<FieldValue, kMaxFields> values_;

  // The scalar of the current event.
  bool flag_ = false;
  std::uint64_t number_ = 0;
  Json::string_t* text_ = nullptr;
};

// Refuses the text with a short reason, or leaves what it read in `reader`.
Result<void, JournalFault> run_reader(std::string_view text, Reader& reader) {
  const auto refuse = [](std::string reason) -> Result<void, JournalFault> {
    return unexpected(JournalFault{std::move(reason)});
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
      return {};
    }
  } catch (const std::bad_alloc&) {
    // Memory, not the text, ran out: the caller says so rather than calling
    // a good journal invalid.
    throw;
  } catch (...) {
    // whatever else the parser may throw, the text counts as invalid
  }
  if (reader.syntax_error_at) {
    return refuse("it is not JSON (syntax error near byte " +
                  std::to_string(*reader.syntax_error_at) + ")");
  }
  return refuse("it is JSON, but not a list of known records with their fields");
}

}  // namespace

Result<std::vector<SystemChange>, JournalFault> parse_journal(std::string_view text) {
  Reader reader(Reader::Mode::kJournal);
  if (auto read = run_reader(text, reader); !read) return unexpected(std::move(read.error()));
  return std::move(reader.changes);
}

Result<SystemStateMeta, JournalFault> parse_meta(std::string_view text) {
  Reader reader(Reader::Mode::kMeta);
  if (auto read = run_reader(text, reader); !read) return unexpected(std::move(read.error()));
  return reader.meta;
}

}  // namespace nuv
