// pages.cpp - qxsimd, daemon side, the control API's room for the pages a
// port's printer printed: the list, and one page's picture as PNG. These run
// without the world's mutex: the bay and the page store have locks of their
// own, and a picture is drawn with neither held.
#include <qxwire/hex.h>

#include "control/call.h"
#include "device/pages.h"

namespace qxsim::control {

using nlohmann::json;

namespace {

// The device of the port a request names; the bay has one for every port
// of the world.
std::shared_ptr<DeviceEmulator> PortDevice(ControlCall& c) {
  const std::string port = Text(c.request, "port", 64);
  auto device = c.w.devices.On(port);
  if (device == nullptr) throw BadRequest("no port named \"" + port + "\"");
  return device;
}

json Summary(const Page& page) {
  return {{"number", page.number},
          {"job", page.job},
          {"page", page.page_in_job},
          {"width", page.width},
          {"height", page.height},
          {"dpi_x", page.dpi_x},
          {"dpi_y", page.dpi_y},
          {"texts", page.texts.size()},
          {"unreadable", page.unreadable.empty() ? json(nullptr) : json(page.unreadable)}};
}

}  // namespace

// The pages kept, oldest first, with the counts of every page printed.
json PagesOp(ControlCall& c) {
  const auto device = PortDevice(c);
  PageStore& store = device->pages();
  json list = json::array();
  for (const auto& page : store.Pages()) list.push_back(Summary(*page));
  return {{"ok", true},
          {"port", device->port()},
          {"printed", store.printed()},
          {"unreadable", store.unreadable()},
          {"kept_at_most", PageStore::kMaxPages},
          {"pages", list}};
}

// One page: its summary, its texts when "texts" is true (face and text in
// hex), and its PNG picture as the reply's body.
json PageOp(ControlCall& c) {
  const auto device = PortDevice(c);
  const uint64_t number = Unsigned(c.request, "number", UINT64_MAX);
  const std::shared_ptr<const Page> page = device->pages().Find(number);
  if (page == nullptr) {
    throw BadRequest("port " + device->port() + " keeps no page " + std::to_string(number) +
                     " (only the latest " + std::to_string(PageStore::kMaxPages) + ")");
  }
  json reply = Summary(*page);
  if (OptionalBool(c.request, "texts").value_or(false)) {
    json texts = json::array();
    for (const PageText& t : page->texts) {
      texts.push_back({{"x", t.x},
                       {"y", t.y},
                       {"color", t.color},
                       {"cell_height", t.cell_height},
                       {"char_width", t.char_width},
                       {"face", qxwire::ToHex(t.face)},
                       {"text", qxwire::ToHex(t.text)}});
    }
    reply["text_list"] = texts;
  }
  std::string png, error;
  int width = 0, height = 0;
  if (!RenderPage(*page, &png, &width, &height, &error)) throw BadRequest(error);
  reply["ok"] = true;
  reply["port"] = device->port();
  reply["picture_width"] = width;
  reply["picture_height"] = height;
  reply["size"] = png.size();
  c.body = std::move(png);
  return reply;
}

}  // namespace qxsim::control
