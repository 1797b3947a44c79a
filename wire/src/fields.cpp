// fields.cpp - qxwire, both sides: the checked JSON field reader (see fields.h).
//
// The two dialects keep the words their readers have always used: the world
// file names a range ("must be an integer from 0 to 255"), a request says
// "is out of range"; a file treats null as absent and refuses zero
// characters in texts, a request takes texts as they come.
#include "qxwire/fields.h"

#include "qxwire/hex.h"

namespace qxwire {

using nlohmann::json;

void Fail(const std::string& path, const std::string& what, Dialect dialect) {
  if (dialect == Dialect::kRequest) throw FieldError("\"" + path + "\" " + what);
  throw FieldError(path + ": " + what);
}

std::string Join(const std::string& path, const std::string& key) {
  return path.empty() ? key : path + "." + key;
}

std::string Index(const std::string& path, size_t i) { return path + "[" + std::to_string(i) + "]"; }

Fields::Fields(const json& object, std::string path, Dialect dialect)
    : object_(object), path_(std::move(path)), dialect_(dialect) {
  if (!object_.is_object()) {
    if (dialect_ == Dialect::kRequest && path_.empty()) throw FieldError("a request must be an object");
    Fail(path_.empty() ? "world" : path_, "must be an object", dialect_);
  }
}

std::string Fields::At(const std::string& key) const {
  return dialect_ == Dialect::kRequest ? key : Join(path_, key);
}

const json* Fields::Find(const std::string& key) {
  taken_.insert(key);
  auto it = object_.find(key);
  return it == object_.end() ? nullptr : &*it;
}

const json& Fields::Need(const std::string& key) {
  const json* v = Find(key);
  if (dialect_ == Dialect::kRequest) {
    if (v == nullptr) Fail(At(key), "is missing", dialect_);
  } else if (v == nullptr || v->is_null()) {
    Fail(At(key), "is required");
  }
  return *v;
}

std::string Fields::Text(const std::string& key, const std::string& fallback, size_t max_length, bool required,
                         bool allow_empty) {
  const json* v = required ? &Need(key) : Find(key);
  if (v == nullptr || (v->is_null() && !required)) return fallback;
  return CheckText(*v, At(key), max_length, allow_empty, dialect_);
}

std::optional<std::string> Fields::OptionalText(const std::string& key, size_t max_length) {
  const json* v = Find(key);
  if (v == nullptr || v->is_null()) return std::nullopt;
  return CheckText(*v, At(key), max_length, true, dialect_);
}

int64_t Fields::Integer(const std::string& key, int64_t fallback, int64_t lo, int64_t hi, bool required) {
  const json* v = required ? &Need(key) : Find(key);
  if (v == nullptr) return fallback;
  return CheckInteger(*v, At(key), lo, hi, dialect_);
}

uint64_t Fields::Unsigned(const std::string& key, uint64_t max) {
  return CheckUnsigned(Need(key), At(key), max, dialect_);
}

bool Fields::Bool(const std::string& key, bool fallback) {
  const json* v = Find(key);
  return v == nullptr ? fallback : CheckBool(*v, At(key), dialect_);
}

std::optional<bool> Fields::OptionalBool(const std::string& key) {
  const json* v = Find(key);
  if (v == nullptr) return std::nullopt;
  return CheckBool(*v, At(key), dialect_);
}

std::vector<uint8_t> Fields::Hex(const std::string& key, size_t max_bytes) {
  return CheckHex(Need(key), At(key), max_bytes, dialect_);
}

void Fields::Done() const {
  for (auto it = object_.begin(); it != object_.end(); ++it) {
    if (taken_.count(it.key()) == 0) Fail(At(it.key()), "unknown key", dialect_);
  }
}

std::string Fields::CheckText(const json& v, const std::string& path, size_t max_length, bool allow_empty,
                              Dialect dialect) {
  if (!v.is_string()) Fail(path, "must be a text", dialect);
  const std::string& text = v.get_ref<const std::string&>();
  if (text.size() > max_length) {
    Fail(path, dialect == Dialect::kRequest ? "is too long" : "longer than " + std::to_string(max_length) + " characters",
         dialect);
  }
  if (!allow_empty && text.empty()) Fail(path, "must not be empty", dialect);
  if (dialect == Dialect::kFile && text.find('\0') != std::string::npos) {
    Fail(path, "must not contain a zero character");
  }
  return text;
}

int64_t Fields::CheckInteger(const json& v, const std::string& path, int64_t lo, int64_t hi, Dialect dialect) {
  const std::string range = "must be an integer from " + std::to_string(lo) + " to " + std::to_string(hi);
  if (v.is_number_unsigned()) {
    const uint64_t n = v.get<uint64_t>();
    if (n > static_cast<uint64_t>(hi) || static_cast<int64_t>(n) < lo) Fail(path, range, dialect);
    return static_cast<int64_t>(n);
  }
  if (!v.is_number_integer()) Fail(path, range, dialect);
  const int64_t n = v.get<int64_t>();
  if (n < lo || n > hi) Fail(path, range, dialect);
  return n;
}

uint64_t Fields::CheckUnsigned(const json& v, const std::string& path, uint64_t max, Dialect dialect) {
  const bool whole = v.is_number_unsigned() || (v.is_number_integer() && v.get<int64_t>() >= 0);
  if (dialect == Dialect::kFile) {
    if (!whole || v.get<uint64_t>() > max) Fail(path, "must be an integer from 0 to " + std::to_string(max));
    return v.get<uint64_t>();
  }
  if (!whole) Fail(path, "must be a non-negative integer", dialect);
  const uint64_t n = v.get<uint64_t>();
  if (n > max) Fail(path, "is out of range", dialect);
  return n;
}

bool Fields::CheckBool(const json& v, const std::string& path, Dialect dialect) {
  if (!v.is_boolean()) Fail(path, "must be true or false", dialect);
  return v.get<bool>();
}

std::vector<uint8_t> Fields::CheckHex(const json& v, const std::string& path, size_t max_bytes, Dialect dialect) {
  if (!v.is_string()) Fail(path, "must be a text of hexadecimal digits", dialect);
  const std::string& text = v.get_ref<const std::string&>();
  if (text.size() % 2 != 0) Fail(path, "must have an even number of hexadecimal digits", dialect);
  if (text.size() / 2 > max_bytes) Fail(path, "longer than " + std::to_string(max_bytes) + " bytes", dialect);
  std::vector<uint8_t> bytes;
  if (!FromHex(text, bytes)) Fail(path, "holds a character that is not a hexadecimal digit", dialect);
  return bytes;
}

const json& Fields::CheckArray(const json& v, const std::string& path, size_t max_items, Dialect dialect) {
  if (!v.is_array()) Fail(path, "must be a list", dialect);
  if (v.size() > max_items) Fail(path, "has more than " + std::to_string(max_items) + " entries", dialect);
  return v;
}

const json& Member(const json& j, const char* key) {
  static const json kNull;
  if (!j.is_object()) return kNull;
  auto it = j.find(key);
  return it == j.end() ? kNull : *it;
}

uint32_t UnsignedOr(const json& j, const char* key, uint32_t fallback) {
  const json& v = Member(j, key);
  return v.is_number_unsigned() ? static_cast<uint32_t>(v.get<uint64_t>()) : fallback;
}

const std::string* TextOf(const json& j, const char* key) {
  const json& v = Member(j, key);
  return v.is_string() ? v.get_ptr<const std::string*>() : nullptr;
}

}  // namespace qxwire
