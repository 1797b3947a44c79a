// default_world.cpp - qxsimd, daemon side: the embedded default world, a small
// point-of-sale installation that runs with no world file. Two of the maker's
// printers (a ticket printer on USB with its language monitor, the system
// default, and a boarding-pass printer on the parallel port without one)
// beside an ordinary office laser printer on a network port.
#include "world.h"

namespace qxsim {

const char* const kDefaultWorldJson = R"json({
  "description": "Box office: QX ticket printer (default, USB, language monitor), QX boarding-pass printer (LPT1:), office laser printer, QX kiosk printer (LPT2:, reached through its port)",
  "os": {"major": 10, "minor": 0, "build": 19045, "platform_id": 2, "csd": ""},
  "code_page": 1252,
  "default_printer": "QX ZDA-38 Ticket Printer",
  "ports": [
    {"name": "LPT1:", "description": "Printer Port"},
    {"name": "LPT2:", "description": "Printer Port"},
    {"name": "COM1:", "description": "Serial Port"},
    {"name": "FILE:", "description": "Print to File"},
    {"name": "USB001", "description": "Virtual printer port for USB"},
    {"name": "IP_192.168.1.40", "description": "Standard TCP/IP Port"}
  ],
  "printers": [
    {
      "name": "QX ZDA-38 Ticket Printer",
      "port": "USB001",
      "location": "Box office, window 1",
      "comment": "Thermal ticket printer",
      "status": 0,
      "attributes": ["queued", "local", "enable_bidi"],
      "driver": {
        "name": "QX ZDA-38 Driver",
        "version": 3,
        "path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38.DLL",
        "date": "2018-10-23T09:30:00",
        "file_version": "2.0.0.9",
        "data_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38.GPD",
        "config_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38UI.DLL",
        "help_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38.HLP",
        "dependent_files": [
          {"path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA38UI.DLL", "date": "2018-10-23T09:30:00", "version": "5.0.1.9"},
          {"path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXLM.DLL", "date": "2018-09-12T14:05:00", "version": "2.0.0.4"},
          {"path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXFONTS.DAT", "date": "2017-03-02"}
        ],
        "default_datatype": "RAW",
        "language_monitor": {"name": "QX Language Monitor", "version": "QXLM 2.0.0.4"}
      },
      "devmode": {
        "driver_version": 512,
        "fields": ["orientation", "paper_size", "paper_length", "paper_width", "default_source", "print_quality", "y_resolution"],
        "orientation": 1,
        "paper_size": 258,
        "paper_length": 1397,
        "paper_width": 826,
        "copies": 1,
        "default_source": 1,
        "print_quality": 203,
        "y_resolution": 203,
        "driver_extra": "5158444d0200000001000000cb000000"
      },
      "sheets": [
        {"name": "Letter", "code": 1, "width": 2159, "length": 2794},
        {"name": "A4", "code": 9, "width": 2100, "length": 2970},
        {"name": "2 x 5.5 L = 5.5", "code": 257, "width": 508, "length": 1397},
        {"name": "3.25 x 5.5 L = 5.5", "code": 258, "width": 826, "length": 1397},
        {"name": "3.25 x 6 L = 6", "code": 259, "width": 826, "length": 1524},
        {"name": "3.25 x 8 L = 8", "code": 260, "width": 826, "length": 2032},
        {"name": "3 x 6 L = 6", "code": 261, "width": 762, "length": 1524},
        {"name": "2 x 3.25 L = 3.25", "code": 262, "width": 508, "length": 826},
        {"name": "Ticket 3.25 x 7", "code": 263, "width": 826, "length": 1778}
      ],
      "bins": [
        {"name": "Front Feed", "code": 1},
        {"name": "Rear Feed", "code": 2},
        {"name": "Manual Feed", "code": 4}
      ],
      "data": {
        "AUTOSIZE": 1,
        "BACKUP_CONTROL": 0,
        "BEEPER_CONTROL": 1,
        "ENERGY_LEVEL": 3,
        "JAM_ERROR_CONTROL": 1,
        "LOW_PAPER_ACTIVE_DETECT": 1,
        "MIN_FORM_LENGTH": 508,
        "TNT_CONTROL": 0
      },
      "jobs": []
    },
    {
      "name": "QX KTP-58 Kiosk Printer",
      "port": "LPT2:",
      "location": "Kiosk",
      "comment": "Reached through its port: no language monitor",
      "status": 0,
      "attributes": ["queued", "local"],
      "driver": {
        "name": "QX KTP-58 Driver",
        "version": 3,
        "path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXKTP58.DLL",
        "date": "2017-03-02",
        "file_version": "1.2.0.3",
        "default_datatype": "RAW",
        "language_monitor": null
      },
      "devmode": {"orientation": 1, "paper_size": 257, "copies": 1, "default_source": 1, "print_quality": 203},
      "sheets": [
        {"name": "Letter", "code": 1, "width": 2159, "length": 2794},
        {"name": "2.25 x 4 L = 4", "code": 257, "width": 572, "length": 1016},
        {"name": "2.25 x 6 L = 6", "code": 258, "width": 572, "length": 1524}
      ],
      "bins": [{"name": "Roll", "code": 1}],
      "data": {"AUTOSIZE": 1},
      "jobs": []
    },
    {
      "name": "QX ZDA24 Boarding Pass Printer",
      "port": "LPT1:",
      "location": "Gate desk",
      "comment": "",
      "status": 0,
      "attributes": ["queued", "local"],
      "driver": {
        "name": "QX ZDA24 Driver",
        "version": 3,
        "path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA24.DLL",
        "date": "2016-05-17T11:00:00",
        "file_version": "1.8.2.0",
        "data_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA24.GPD",
        "config_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXZDA24UI.DLL",
        "dependent_files": [
          {"path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\VNQUIF_G_200X.DLL", "date": "2006-09-11T12:00:00"},
          {"path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\QXVERSION.DLL", "date": "2006-09-11T12:00:00", "version": "2.0.6.0"}
        ],
        "default_datatype": "RAW",
        "language_monitor": null
      },
      "devmode": {
        "driver_version": 264,
        "orientation": 1,
        "paper_size": 257,
        "copies": 1,
        "default_source": 8,
        "print_quality": 203
      },
      "sheets": [
        {"name": "Letter", "code": 1, "width": 2159, "length": 2794},
        {"name": "3.25 x 4.4", "code": 257, "width": 826, "length": 1118},
        {"name": "2 x 4.4", "code": 258, "width": 508, "length": 1118},
        {"name": "3.25 x 4.4 L = 4.4", "code": 259, "width": 826, "length": 1118},
        {"name": "8 x 3.25 L = 8", "code": 260, "width": 2032, "length": 826},
        {"name": "Boarding Pass 8 x 3.25", "code": 261, "width": 2032, "length": 826}
      ],
      "bins": [
        {"name": "Tractor", "code": 8},
        {"name": "Manual Feed", "code": 4}
      ],
      "data": {
        "AUTOSIZE": 0,
        "ENERGY_LEVEL": 2,
        "ROTATE_IMAGE_180": 0
      },
      "jobs": []
    },
    {
      "name": "Office Laser MFP",
      "port": "IP_192.168.1.40",
      "share_name": "OfficeLaser",
      "location": "Back office",
      "comment": "Reports and invoices",
      "status": 0,
      "attributes": ["queued", "local", "shared", "enable_bidi"],
      "driver": {
        "name": "Generic PCL6 Class Driver",
        "version": 3,
        "path": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\PCL6CLASS.DLL",
        "date": "2019-12-07T09:10:00",
        "file_version": "10.0.19041.1",
        "data_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\PCL6CLASS.GPD",
        "config_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\UNIDRVUI.DLL",
        "help_file": "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\UNIDRV.HLP",
        "dependent_files": [
          "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\UNIDRV.DLL",
          "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\UNIRES.DLL",
          "C:\\Windows\\System32\\spool\\DRIVERS\\x64\\3\\STDNAMES.GPD"
        ],
        "default_datatype": "RAW"
      },
      "devmode": {
        "orientation": 1,
        "paper_size": 1,
        "copies": 1,
        "default_source": 7,
        "print_quality": 600,
        "color": 1,
        "duplex": 1,
        "y_resolution": 600,
        "collate": 0,
        "form_name": "Letter"
      },
      "sheets": [
        {"name": "Letter", "code": 1, "width": 2159, "length": 2794},
        {"name": "Legal", "code": 5, "width": 2159, "length": 3556},
        {"name": "Executive", "code": 7, "width": 1842, "length": 2667},
        {"name": "A4", "code": 9, "width": 2100, "length": 2970},
        {"name": "A5", "code": 11, "width": 1480, "length": 2100},
        {"name": "Envelope #10", "code": 20, "width": 1048, "length": 2413}
      ],
      "bins": [
        {"name": "Automatically Select", "code": 7},
        {"name": "Tray 1", "code": 257},
        {"name": "Tray 2", "code": 258},
        {"name": "Manual Feed", "code": 4}
      ],
      "data": {},
      "jobs": [
        {"id": 7, "document": "Daily sales report", "status": ["printing"], "owner": "boxoffice", "pages": 3, "size": 48213},
        {"id": 8, "document": "Invoice 2018-1142", "status": 0, "owner": "boxoffice", "pages": 1, "size": 20480}
      ]
    }
  ],
  "usb_interfaces": [
    {"device_path": "\\\\?\\usb#vid_1a2b&pid_0038#qz38a0011204#{762bb1c4-5164-11d1-b00b-00c0d1570f9e}", "port_name": "USB001"}
  ],
  "devices": [
    {"port": "USB001", "model": "ZDA-38", "device_id": "MFG:QX;CMD:QXPL,ESC;MDL:ZDA-38;CLS:PRINTER;DES:QX ZDA-38 Ticket Printer;", "firmware": "1.24",
     "status_word": 0, "temperature": 25, "form_length": 0, "version_detail": "2018-10-23"},
    {"port": "LPT1:", "model": "VNP-24", "device_id": "MANUFACTURER:QX;COMMAND SET:QXPL;MODEL:VNP-24;CLASS:PRINTER;DESCRIPTION:QX ZDA24 Boarding Pass Printer;", "firmware": "1.03",
     "status_word": 0, "temperature": 31, "form_length": 440, "version_detail": "2016-05-17"},
    {"port": "LPT2:", "model": "KTP-58", "device_id": "MFG:QX;MDL:KTP-58;CMD:QXPL;CLS:PRINTER;", "firmware": "2.07",
     "status_word": 0, "temperature": 28, "form_length": 0, "version_detail": "2017-03-02"}
  ]
})json";

}  // namespace qxsim
