// qxctl port-road reads: the status through the printer's port and the
// attached model from its device ID, each with the port taken for the read
// and given back after it.
#include <cstdio>
#include <string>

#include "library_view.h"
#include "port_hold.h"

namespace qxctl {
namespace {

int Model(const Context& context) {
  if (!ModelReadable()) {
    return Fail(context, {kExitRefused, std::nullopt, "NOT_AVAILABLE",
                          "the model read is not available in this build: the library reads it only inside "
                          "its flash programming",
                          "the POSIX developer build shows it"});
  }
  PortHold hold;
  if (const auto failure = hold.Take(context)) return Fail(context, *failure);
  TellMoved(context, hold);
  ModelView view;
  const bool read = ReadModel(&view);
  if (const QXRESULT rc = hold.Release(); rc != QX_ERR_OK) return ReleaseFailed(context, rc);
  if (!read) {
    return Fail(context,
                {kExitRefused, std::nullopt, "NO_DEVICE_ID", "no device ID from the port of " + OrNone(hold.printer()),
                 "the port may be held by another program, or the printer be off"});
  }
  if (context.json) {
    Emit({{"printer", hold.printer()},
          {"model", view.found ? json(view.model) : json(nullptr)},
          {"deviceId", view.deviceId},
          {"moved", Names(hold.moved())}});
  } else {
    std::printf("model      %s\n", view.found ? view.model.c_str() : "(no MDL: or MODEL: key)");
    std::printf("device ID  %s\n", view.deviceId.c_str());
  }
  return kExitDone;
}

}  // namespace

int PortStatus(const Context& context, LONG index, bool direct, BYTE* reply, DWORD size, DWORD* length, json* moved) {
  PortHold hold;
  if (const auto failure = hold.Take(context)) return Fail(context, *failure);
  TellMoved(context, hold);
  *moved = Names(hold.moved());
  // The two-road read goes through the port only while the monitor is not
  // marked available; a release with nothing moved clears that mark.
  if (!direct && hold.moved().empty()) qxReleasePort();
  QXRESULT rc;
  *length = 0;
  {
    WaitNotice notice(direct ? "the printer's port"
                             : "the printer's port (a silent printer is tried three times, 5 s apart)");
    rc = direct ? qxGetStatus_NT_2K_XP(index, reply, static_cast<LONG>(size), length)
                : qxGetStatus(index, reply, static_cast<LONG>(size), length);
  }
  if (const QXRESULT released = hold.Release(); released != QX_ERR_OK) return ReleaseFailed(context, released);
  if (rc != QX_ERR_OK) {
    return Fail(context, LibraryFailure(rc, "no status from the port of " + OrNone(hold.printer()),
                                        rc == QX_ERR_PORT_OPEN ? "another program holds the port" : ""));
  }
  if (*length > size) *length = size;
  return kExitDone;
}

void AddPortReadCommands(CLI::App& app, Commands& commands) {
  commands.Add(app, "model",
               "The attached printer's model and full IEEE 1284 device ID, read from its port (POSIX build)",
               Needs::kSpooler, Model);
}

}  // namespace qxctl
