// fields.h - qxwire, both sides: the one checked reader of JSON fields.
// Every value is checked for type and range where it is read, and an error
// names the place it was found. Two dialects say so:
//
//   kFile     the world file:  "printers[1].sheets[3].code: must be an integer from 1 to 32767"
//   kRequest  a request:       "\"reply_code\" is out of range"
//
// Fields reads one object and remembers the keys it was asked for, so that
// Done() can report the first key nobody asked for. The lenient accessors at
// the end (Member, UnsignedOr, TextOf) are for replies a client reads, where
// a missing or mistyped member stands for nothing rather than an error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace qxwire {

class FieldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

enum class Dialect { kFile, kRequest };

// Fail - throw FieldError: what is wrong at path, in the dialect's form.
[[noreturn]] void Fail(const std::string& path, const std::string& what, Dialect dialect = Dialect::kFile);

// Join - path.key (key alone at the top); Index - path[i].
std::string Join(const std::string& path, const std::string& key);
std::string Index(const std::string& path, size_t i);

class Fields {
 public:
  // object must be a JSON object (else FieldError: "must be an object", at
  // path, or at "world" for the file's top level).
  Fields(const nlohmann::json& object, std::string path, Dialect dialect = Dialect::kFile);

  const std::string& path() const { return path_; }
  // At - the path of a member (in a request, the key itself).
  std::string At(const std::string& key) const;

  // Find - the member, or null when absent; marks the key as asked for.
  const nlohmann::json* Find(const std::string& key);
  // Need - the member; absent (and in a file, null) is an error.
  const nlohmann::json& Need(const std::string& key);

  // Text - a text of at most max_length bytes; fallback when absent (or null).
  std::string Text(const std::string& key, const std::string& fallback, size_t max_length,
                   bool required = false, bool allow_empty = true);
  // OptionalText - a text, or nothing when absent or null.
  std::optional<std::string> OptionalText(const std::string& key, size_t max_length);
  // Integer - lo..hi; fallback when absent.
  int64_t Integer(const std::string& key, int64_t fallback, int64_t lo, int64_t hi, bool required = false);
  // Unsigned - a required whole number 0..max.
  uint64_t Unsigned(const std::string& key, uint64_t max);
  bool Bool(const std::string& key, bool fallback);
  std::optional<bool> OptionalBool(const std::string& key);
  // Hex - a required text of hex digit pairs, at most max_bytes bytes.
  std::vector<uint8_t> Hex(const std::string& key, size_t max_bytes);

  // Done - FieldError for the first key nobody asked for.
  void Done() const;

  // Checks of single values, for lists and values read without an object.
  static std::string CheckText(const nlohmann::json& v, const std::string& path, size_t max_length,
                               bool allow_empty = true, Dialect dialect = Dialect::kFile);
  static int64_t CheckInteger(const nlohmann::json& v, const std::string& path, int64_t lo, int64_t hi,
                              Dialect dialect = Dialect::kFile);
  static uint64_t CheckUnsigned(const nlohmann::json& v, const std::string& path, uint64_t max,
                                Dialect dialect = Dialect::kRequest);
  static bool CheckBool(const nlohmann::json& v, const std::string& path, Dialect dialect = Dialect::kFile);
  static std::vector<uint8_t> CheckHex(const nlohmann::json& v, const std::string& path, size_t max_bytes,
                                       Dialect dialect = Dialect::kFile);
  static const nlohmann::json& CheckArray(const nlohmann::json& v, const std::string& path, size_t max_items,
                                          Dialect dialect = Dialect::kFile);

 private:
  const nlohmann::json& object_;
  std::string path_;
  Dialect dialect_;
  std::set<std::string> taken_;
};

// Lenient reading of replies: the member, or a null value when j is no
// object or has no such member; a whole number's low 32 bits, or fallback
// for anything else; a text, or null.
const nlohmann::json& Member(const nlohmann::json& j, const char* key);
uint32_t UnsignedOr(const nlohmann::json& j, const char* key, uint32_t fallback = 0);
const std::string* TextOf(const nlohmann::json& j, const char* key);

}  // namespace qxwire
