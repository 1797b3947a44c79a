// fields_test.cpp - the checked JSON field reader: types and ranges, the path
// named in both dialects, unknown keys, and the lenient reply accessors.
#include <qxwire/fields.h>

#include <string>

#include <gtest/gtest.h>

namespace {

using nlohmann::json;
using qxwire::Dialect;
using qxwire::FieldError;
using qxwire::Fields;

// The message a read throws, or "" when it does not.
template <class F>
std::string Error(F read) {
  try {
    read();
  } catch (const FieldError& e) {
    return e.what();
  }
  return "";
}

TEST(Fields, ReadsCheckedValues) {
  const json object = {{"name", "ZDA"}, {"code", 257}, {"on", true}, {"bytes", "51ff"}, {"none", nullptr}};
  Fields r(object, "printers[0]");
  EXPECT_EQ(r.Text("name", "", 10), "ZDA");
  EXPECT_EQ(r.Integer("code", 0, 1, 32767), 257);
  EXPECT_TRUE(r.Bool("on", false));
  EXPECT_EQ(r.Hex("bytes", 2), (std::vector<uint8_t>{0x51, 0xff}));
  EXPECT_EQ(r.Text("none", "fallback", 10), "fallback");
  EXPECT_EQ(r.Integer("absent", 7, 0, 9), 7);
  EXPECT_FALSE(r.OptionalText("none", 10).has_value());
  EXPECT_NO_THROW(r.Done());
}

TEST(Fields, FileErrorsNameThePath) {
  const json object = {{"code", 40000}, {"name", 5}, {"on", "yes"}, {"zero", std::string("a\0b", 3)},
                       {"hex", "abc"}, {"list", 3}, {"big", json::array({1, 2, 3})}};
  const struct {
    std::function<void(Fields&)> read;
    const char* message;
  } cases[] = {
      {[](Fields& r) { r.Integer("code", 0, 1, 32767); }, "printers[1].sheets[3].code: must be an integer from 1 to 32767"},
      {[](Fields& r) { r.Text("name", "", 9); }, "printers[1].sheets[3].name: must be a text"},
      {[](Fields& r) { r.Text("zero", "", 9); }, "printers[1].sheets[3].zero: must not contain a zero character"},
      {[](Fields& r) { r.Text("missing", "", 9, true); }, "printers[1].sheets[3].missing: is required"},
      {[](Fields& r) { r.Bool("on", false); }, "printers[1].sheets[3].on: must be true or false"},
      {[](Fields& r) { r.Hex("hex", 9); }, "printers[1].sheets[3].hex: must have an even number of hexadecimal digits"},
      {[](Fields& r) { Fields::CheckArray(r.Need("list"), r.At("list"), 2); }, "printers[1].sheets[3].list: must be a list"},
      {[](Fields& r) { Fields::CheckArray(r.Need("big"), r.At("big"), 2); }, "printers[1].sheets[3].big: has more than 2 entries"},
      {[](Fields& r) { r.Done(); }, "printers[1].sheets[3].big: unknown key"},
  };
  for (const auto& c : cases) {
    Fields r(object, "printers[1].sheets[3]");
    EXPECT_EQ(Error([&] { c.read(r); }), c.message);
  }
}

TEST(Fields, RequestErrorsNameTheKey) {
  const json request = {{"op", "set_monitor"}, {"reply_code", 256}, {"delay", -3}, {"port", 1},
                        {"clear", "yes"}, {"name", "far too long"}};
  const struct {
    std::function<void(Fields&)> read;
    const char* message;
  } cases[] = {
      {[](Fields& r) { r.Unsigned("reply_code", 255); }, "\"reply_code\" is out of range"},
      {[](Fields& r) { r.Unsigned("delay", 9); }, "\"delay\" must be a non-negative integer"},
      {[](Fields& r) { r.Text("port", "", 64, true); }, "\"port\" must be a text"},
      {[](Fields& r) { r.Text("name", "", 4, true); }, "\"name\" is too long"},
      {[](Fields& r) { r.Need("script"); }, "\"script\" is missing"},
      {[](Fields& r) { r.OptionalBool("clear"); }, "\"clear\" must be true or false"},
  };
  for (const auto& c : cases) {
    Fields r(request, "", Dialect::kRequest);
    EXPECT_EQ(Error([&] { c.read(r); }), c.message);
  }
}

TEST(Fields, RefusesWhatIsNoObject) {
  EXPECT_EQ(Error([] { Fields r(json::array(), ""); }), "world: must be an object");
  EXPECT_EQ(Error([] { Fields r(json(3), "printers[2]"); }), "printers[2]: must be an object");
  EXPECT_EQ(Error([] { Fields r(json("x"), "", Dialect::kRequest); }), "a request must be an object");
  EXPECT_EQ(Error([] { Fields r(json("x"), "script", Dialect::kRequest); }), "\"script\" must be an object");
}

TEST(Fields, IntegersAtTheEdges) {
  const json object = {{"lo", -99}, {"hi", 999}, {"huge", 18446744073709551615ull}, {"real", 1.5}};
  Fields r(object, "device");
  EXPECT_EQ(r.Integer("lo", 0, -99, 999), -99);
  EXPECT_EQ(r.Integer("hi", 0, -99, 999), 999);
  EXPECT_EQ(Error([&] { r.Integer("huge", 0, 0, 65535); }), "device.huge: must be an integer from 0 to 65535");
  EXPECT_EQ(Error([&] { r.Integer("real", 0, 0, 9); }), "device.real: must be an integer from 0 to 9");
  EXPECT_EQ(Fields::CheckUnsigned(object["huge"], "huge", UINT64_MAX), UINT64_MAX);
}

TEST(Fields, LenientRepliesReadMissingAsNothing) {
  const json reply = {{"error", 0}, {"name", "P"}, {"count", 7u}, {"negative", -1}, {"wide", 0x100000002ull}};
  EXPECT_EQ(qxwire::UnsignedOr(reply, "count"), 7u);
  EXPECT_EQ(qxwire::UnsignedOr(reply, "negative", 9), 9u);
  EXPECT_EQ(qxwire::UnsignedOr(reply, "wide"), 2u) << "the low 32 bits";
  EXPECT_EQ(qxwire::UnsignedOr(json::array(), "count", 5), 5u);
  ASSERT_NE(qxwire::TextOf(reply, "name"), nullptr);
  EXPECT_EQ(*qxwire::TextOf(reply, "name"), "P");
  EXPECT_EQ(qxwire::TextOf(reply, "count"), nullptr);
  EXPECT_TRUE(qxwire::Member(reply, "absent").is_null());
  EXPECT_TRUE(qxwire::Member(json("text"), "name").is_null());
}

}  // namespace
