#pragma once
// The settings dialog's logic: what it shows on opening, which values it
// refuses, and what OK writes and applies. Every field is checked before
// any key is written, so a refused value never leaves half the dialog
// stored; a list choice that matches nothing keeps the stored value. The
// window (src/ui) only shows these values and hands them back.
#include <array>
#include <string>
#include <vector>

#include "app/FrmMain.h"
#include "platform/SerialPort.h"

namespace kavon {

struct ConfChannel {
  std::vector<std::string> devices;  // the input devices, by name (what is stored)
  std::vector<std::string> labels;   // what the list shows for each
  int device = -1;                   // the entry selected, -1 none
  int deviceLoaded = -1;             // the entry selected on opening: OK keeps the stored text while it is
  std::string level;                 // RecLevelDB_n as "0.00"
  std::string path;                  // RecPath_n
};

// The dialog's fields as texts and list choices.
struct ConfValues {
  std::string sizeRate;
  int altFont = 1;  // 0 "ＭＳ Ｐゴシック", 1 "メイリオ"
  std::string numDev;
  std::vector<std::string> rates;
  int rate = -1;
  std::string deleteDate;
  std::array<ConfChannel, kMaxChannels> channels{};
  std::string muonInLevel, muonOutLevel, muonMS;
  std::string hourAdjust;  // hh:mm:ss
  std::string minute, second, noAdjustSec;
  // "NA", then the present ports ("Com1  /dev/serial/by-id/usb-… (ttyUSB0)"),
  // then the stored port when it is not plugged in.
  std::vector<std::string> comPorts;
  std::vector<std::string> comPaths;  // the device of each entry ("" for "NA"), its stable name when it has one
  int comNo = 0;
  int comLoaded = 0;  // the entry selected on opening: OK keeps the stored port while it is selected
  std::vector<std::string> bauds;
  int baud = -1;
  int useBCD = 0;
  std::array<int, 2> adjustPin{};  // list index: 0 "NA", 1 ... 8
  int hid = 0;                     // list index: 0 "NA", 1 ... 8
  // Stored values out of the dialog's range, each shown as the value kavon
  // uses instead: "MuonInLevel=97 → -50".
  std::vector<std::string> notes;
};

// A field the dialog will not store, and why, for the user.
struct Refusal {
  std::string field;    // the key, "RecLevelDB_3"
  std::string message;  // names the field by its label
};

class FrmConf {
 public:
  FrmConf(FrmMain& app, platform::SerialSystem* serial) : app_(app), serial_(serial) {}

  ConfValues Load();
  std::vector<Refusal> Check(const ConfValues& v) const;
  // Nothing is written unless Check finds nothing; then every key is
  // written in the dialog's order (one save), the values that apply at
  // once are applied and the serial box is opened again.
  std::vector<Refusal> Ok(const ConfValues& v);

  // Typing six digits into the day-start field shows them as a time:
  // "053000" becomes "05:30:00"; any other text stays.
  static std::string FormatTimeTyping(const std::string& typed);

 private:
  // The value kavon uses for a field (the default where nothing is in use).
  std::string InUse(const std::string& key) const;

  FrmMain& app_;
  platform::SerialSystem* serial_;
};

}  // namespace kavon
