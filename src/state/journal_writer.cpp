// Writing the journal and the meta file in their one fixed, indented layout,
// driven by the records' declarations in journal_schema.h.
#include "state/journal_format.h"

#include <array>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <variant>
#include <vector>

#include "state/journal_schema.h"

namespace nuv {
namespace {

using journal_schema::FieldType;
using journal_schema::RecordSchema;

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

  void string_list(const std::vector<std::string>& list, int level) {
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

  // One member per field of the record's schema, in its order, each on its
  // own line at `level`.
  template <class Record>
  void fields(const Record& record, int level) {
    std::apply(
        [&](const auto&... field) {
          std::size_t left = sizeof...(field);
          (member(level, field, record.*field.member, --left == 0), ...);
        },
        RecordSchema<Record>::fields);
  }

 private:
  template <class Field, class Member>
  void member(int level, const Field& field, const Member& v, bool last) {
    key(level, field.name);
    if constexpr (Field::type == FieldType::kString) {
      string(v);
    } else if constexpr (Field::type == FieldType::kU32 || Field::type == FieldType::kU64) {
      number(v);
    } else if constexpr (Field::type == FieldType::kBool) {
      out_ += v ? "true" : "false";
    } else if constexpr (Field::type == FieldType::kStringList) {
      string_list(v, level);
    } else if constexpr (Field::type == FieldType::kOptionalString) {
      if (v) {
        string(*v);
      } else {
        out_ += "null";  // absent
      }
    } else {
      static_assert(Field::type == FieldType::kOptionalU32);
      if (v) {
        number(*v);
      } else {
        out_ += "null";  // absent
      }
    }
    end_member(last);
  }

  std::string& out_;
};

}  // namespace

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
          using Record = std::remove_cvref_t<decltype(change)>;
          writer.key(2, RecordSchema<Record>::kind);
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
  writer.fields(meta, 1);
  out += '}';
  return out;
}

}  // namespace nuv
