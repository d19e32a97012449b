#include "record_reader.h"

#include <map>

namespace korvane::test {
namespace {

// Just enough JSON for the records: objects, arrays, strings, unsigned
// numbers, true, false, null.
struct Value {
  enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
  bool flag = false;
  std::uint64_t number = 0;
  std::string text;
  std::vector<Value> items;
  std::map<std::string, Value> members;

  [[nodiscard]] const Value* get(const std::string& key) const {
    if (type != Type::Object) return nullptr;
    auto it = members.find(key);
    return it == members.end() ? nullptr : &it->second;
  }
};

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  std::optional<Value> document() {
    auto v = value();
    skip_space();
    if (!v || pos_ != text_.size()) return std::nullopt;
    return v;
  }

 private:
  void skip_space() {
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\n' ||
                                   text_[pos_] == '\r' || text_[pos_] == '\t')) {
      ++pos_;
    }
  }
  bool eat(char c) {
    skip_space();
    if (pos_ < text_.size() && text_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool word(std::string_view w) {
    if (text_.substr(pos_, w.size()) != w) return false;
    pos_ += w.size();
    return true;
  }

  std::optional<std::string> string() {
    if (!eat('"')) return std::nullopt;
    std::string out;
    while (pos_ < text_.size()) {
      const char c = text_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= text_.size()) return std::nullopt;
      const char e = text_[pos_++];
      if (e == 'u') {
        // The recorder escapes only control characters this way.
        if (pos_ + 4 > text_.size()) return std::nullopt;
        const unsigned long code = std::stoul(std::string(text_.substr(pos_, 4)), nullptr, 16);
        pos_ += 4;
        if (code >= 0x80) return std::nullopt;
        out.push_back(static_cast<char>(code));
      } else if (e == 'n') {
        out.push_back('\n');
      } else {
        out.push_back(e);
      }
    }
    return std::nullopt;
  }

  std::optional<Value> value() {
    skip_space();
    if (pos_ >= text_.size()) return std::nullopt;
    Value v;
    const char c = text_[pos_];
    if (c == '{') {
      ++pos_;
      v.type = Value::Type::Object;
      if (eat('}')) return v;
      do {
        auto key = string();
        if (!key || !eat(':')) return std::nullopt;
        auto member = value();
        if (!member) return std::nullopt;
        v.members[*key] = std::move(*member);
      } while (eat(','));
      if (!eat('}')) return std::nullopt;
    } else if (c == '[') {
      ++pos_;
      v.type = Value::Type::Array;
      if (eat(']')) return v;
      do {
        auto item = value();
        if (!item) return std::nullopt;
        v.items.push_back(std::move(*item));
      } while (eat(','));
      if (!eat(']')) return std::nullopt;
    } else if (c == '"') {
      auto s = string();
      if (!s) return std::nullopt;
      v.type = Value::Type::String;
      v.text = std::move(*s);
    } else if (c >= '0' && c <= '9') {
      v.type = Value::Type::Number;
      while (pos_ < text_.size() && text_[pos_] >= '0' && text_[pos_] <= '9') {
        v.number = v.number * 10 + static_cast<std::uint64_t>(text_[pos_++] - '0');
      }
    } else if (word("true")) {
      v.type = Value::Type::Bool;
      v.flag = true;
    } else if (word("false")) {
      v.type = Value::Type::Bool;
    } else if (!word("null")) {
      return std::nullopt;
    }
    return v;
  }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// A recorded string: its "utf16" array of code units.
std::optional<std::u16string> units(const Value* v) {
  if (!v) return std::nullopt;
  const Value* array = v->get("utf16");
  if (!array || array->type != Value::Type::Array) return std::nullopt;
  std::u16string out;
  for (const Value& unit : array->items) {
    if (unit.type != Value::Type::Number || unit.number > 0xFFFF) return std::nullopt;
    out.push_back(static_cast<char16_t>(unit.number));
  }
  return out;
}

std::optional<std::vector<std::u16string>> unit_list(const Value* v) {
  if (!v || v->type != Value::Type::Array) return std::nullopt;
  std::vector<std::u16string> out;
  for (const Value& item : v->items) {
    auto s = units(&item);
    if (!s) return std::nullopt;
    out.push_back(std::move(*s));
  }
  return out;
}

std::optional<StreamRecord> stream(const Value* v) {
  if (!v) return std::nullopt;
  const Value* present = v->get("present");
  const Value* type = v->get("type");
  const Value* console = v->get("console");
  if (!present || !type || !console) return std::nullopt;
  return StreamRecord{present->flag, type->text, console->flag};
}

}  // namespace

std::optional<Record> parse_record(std::string_view text) {
  auto doc = Parser(text).document();
  if (!doc || doc->type != Value::Type::Object) return std::nullopt;
  const Value* format = doc->get("format");
  if (!format || format->number != 1) return std::nullopt;

  Record r;
  auto module = units(doc->get("module_path"));
  auto base = units(doc->get("base_name"));
  auto line = units(doc->get("command_line"));
  auto argv = unit_list(doc->get("argv"));
  auto argv_shell = unit_list(doc->get("argv_shell"));
  auto cwd = units(doc->get("cwd"));
  const Value* handles = doc->get("std_handles");
  if (!module || !base || !line || !argv || !argv_shell || !cwd || !handles) return std::nullopt;
  auto in = stream(handles->get("stdin"));
  auto out = stream(handles->get("stdout"));
  auto err = stream(handles->get("stderr"));
  if (!in || !out || !err) return std::nullopt;
  r.module_path = std::move(*module);
  r.base_name = std::move(*base);
  r.command_line = std::move(*line);
  r.argv = std::move(*argv);
  r.argv_shell = std::move(*argv_shell);
  r.cwd = std::move(*cwd);
  r.std_in = *in;
  r.std_out = *out;
  r.std_err = *err;
  if (const Value* pid = doc->get("pid")) r.pid = static_cast<std::uint32_t>(pid->number);
  if (const Value* w = doc->get("console_window")) r.console_window = w->flag;
  r.var_name = units(doc->get("var_name"));
  r.var_value = units(doc->get("var_value"));
  if (const Value* code = doc->get("exit_code")) r.exit_code = static_cast<std::uint32_t>(code->number);
  return r;
}

}  // namespace korvane::test
