#include "app/Settings.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "common/Text.h"
#include "platform/FileSync.h"
#include "platform/ini/IniFile.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

using namespace std::string_literals;

using platform::IniSettingsBackend;

TEST(SettingsStore, EmptyTextIsStoredAsStarsAndRoundTripsOnDisk) {
  test::TempDir dir;
  {
    IniSettingsBackend backend(dir.path());
    SettingsStore store(backend);
    store.WriteSetting("RecPath_1", "");
    store.WriteSetting("RecPath_2", "/srv/rec/長い フォルダ/" + std::string(300, 'x'));
  }
  const std::string text = test::ReadWholeFile(dir.File("kavon.ini"));
  EXPECT_NE(text.find("[conf]\nRecPath_1=***\n"), std::string::npos);

  IniSettingsBackend backend(dir.path());  // a fresh process reads the file
  SettingsStore store(backend);
  EXPECT_EQ(store.ReadSetting("RecPath_1", "default"), "");
  EXPECT_EQ(store.ReadSetting("RecPath_2", ""), "/srv/rec/長い フォルダ/" + std::string(300, 'x'));
}

TEST(SettingsStore, MissingKeysAreWrittenWithTheirDefaultOnFirstRead) {
  test::TempDir dir;
  IniSettingsBackend backend(dir.path());
  SettingsStore store(backend);
  const Settings s = ReadAllSettings(store);
  EXPECT_EQ(s.NumRec, 3);
  EXPECT_EQ(s.ChannelCount(), 4);
  EXPECT_EQ(s.nFreq, 44100);
  EXPECT_EQ(s.MuonInLevel, -50);
  EXPECT_EQ(s.MuonOutLevel, -60);
  EXPECT_EQ(s.MuonMS, 3000);
  EXPECT_EQ(s.HourAdjust, 18000);
  EXPECT_EQ(s.TimerOn, 1);
  EXPECT_EQ(s.USBHIDID, 0);
  EXPECT_EQ(s.RecGain[0], 1.0);
  const std::string text = test::ReadWholeFile(dir.File("kavon.ini"));
  for (const char* line : {"NumRec=3\n", "nFreq=44100\n", "SizeRate=1.00\n", "RecPath_4=***\n", "ComBaud=38400\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  EXPECT_EQ(text.find("RecPath_5"), std::string::npos);  // only channels 1..NumRec+1
  EXPECT_FALSE(std::filesystem::exists(dir.File("common.ini")));  // the shared store is only read
}

TEST(Settings, ClampsBoundsAndBadNumbersGiveTheDefault) {
  struct Case {
    const char* key;
    const char* stored;
    int Settings::*field;
    int expected;
    bool logged;  // out of bounds: logged once at startup
  };
  const Case cases[] = {
      {"NumRec", "12", &Settings::NumRec, 7, false},
      {"NumRec", "-3", &Settings::NumRec, 0, false},
      {"NumRec", "two", &Settings::NumRec, 3, false},
      {"nFreq", "0", &Settings::nFreq, 44100, true},
      {"nFreq", "-48000", &Settings::nFreq, 44100, true},
      {"nFreq", "abc", &Settings::nFreq, 44100, false},
      {"nFreq", "48000", &Settings::nFreq, 48000, false},
      {"nFreq", "1", &Settings::nFreq, 44100, true},  // a 1 Hz file is no recording
      {"nFreq", "44101", &Settings::nFreq, 44100, true},
      {"MuonInLevel", "97", &Settings::MuonInLevel, -50, true},  // would overflow the threshold
      {"MuonOutLevel", "-111", &Settings::MuonOutLevel, -60, true},
      {"MuonOutLevel", "0", &Settings::MuonOutLevel, 0, false},
      {"HourAdjust", "86400", &Settings::HourAdjust, 18000, true},
      {"HourAdjust", "-1", &Settings::HourAdjust, 18000, true},
      {"HourAdjust", "0", &Settings::HourAdjust, 0, false},
      {"MuonMS", "99999999999", &Settings::MuonMS, 3000, false},
      {"AdjustPin_1", "-4", &Settings::AdjustPin_1, 0, false},
      {"TimerOn", "", &Settings::TimerOn, 1, false},
      {"TimerOn", "2", &Settings::TimerOn, 0, false},  // only 1 arms the timer
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + "=" + c.stored);
    test::TempDir dir;
    test::WriteWholeFile(dir.File("kavon.ini"), std::string("[conf]\n") + c.key + "=" + c.stored + "\n");
    IniSettingsBackend backend(dir.path());
    SettingsStore store(backend);
    const Settings s = ReadAllSettings(store);
    EXPECT_EQ(s.*c.field, c.expected);
    EXPECT_EQ(s.rejected.size(), c.logged ? 1u : 0u);
  }
  for (const char* db : {"771", "-111", "nan", "inf", "1e999"}) {
    SCOPED_TRACE(db);
    test::TempDir dir;
    test::WriteWholeFile(dir.File("kavon.ini"), std::string("[conf]\nNumRec=0\nRecLevelDB_1=") + db + "\n");
    IniSettingsBackend backend(dir.path());
    SettingsStore store(backend);
    EXPECT_EQ(ReadAllSettings(store).RecGain[0], 1.0);
  }
}

TEST(Settings, FloatsAndChannelKeys) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"),
                       "[conf]\nSizeRate=0\nNumRec=1\nRecLevelDB_1=-110\nRecLevelDB_2=6\nRecPath_2=/rec\n");
  IniSettingsBackend backend(dir.path());
  SettingsStore store(backend);
  const Settings s = ReadAllSettings(store);
  EXPECT_EQ(s.SizeRate, 1.0);
  EXPECT_EQ(s.RecGain[0], 0.0);
  EXPECT_NEAR(s.RecGain[1], 1.9953, 1e-4);
  EXPECT_EQ(s.RecPath[1], "/rec/");
  EXPECT_EQ(s.RecPath[0], "");
}

TEST(Settings, GarbageBomCrLfAndMissingSectionLoadWhatTheyCan) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"),
                       "\xEF\xBB\xBF; comment\r\ngarbage line\r\n\xFF\xFE\x80\r\n[other]\r\nNumRec=6\r\n"
                       "[CONF]\r\nnumrec = 5 \r\n=nokey\r\nnFreq=48000\r\n");
  IniSettingsBackend backend(dir.path());
  SettingsStore store(backend);
  const Settings s = ReadAllSettings(store);
  EXPECT_EQ(s.NumRec, 5);  // section and key match without regard to case
  EXPECT_EQ(s.nFreq, 48000);
  const std::string text = test::ReadWholeFile(dir.File("kavon.ini"));
  EXPECT_NE(text.find("garbage line"), std::string::npos);  // kept as it stood
  EXPECT_NE(text.find("[other]\nNumRec=6"), std::string::npos);

  test::TempDir noSection;
  test::WriteWholeFile(noSection.File("kavon.ini"), "NumRec=6\n");
  IniSettingsBackend b2(noSection.path());
  SettingsStore s2(b2);
  EXPECT_EQ(ReadAllSettings(s2).NumRec, 3);
}

TEST(Settings, DoubledBomCrCrLfAndNulLoadAsWritten) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini"), "\xEF\xBB\xBF\xEF\xBB\xBF[conf]\r\r\nNumRec=1\r\r\n"
                                              "nFreq=48000\0junk\r\r\nRecPath_1=/srv/a\r\r\n"s);
  IniSettingsBackend backend(dir.path());
  SettingsStore store(backend);
  const Settings s = ReadAllSettings(store);
  EXPECT_EQ(s.NumRec, 1);
  EXPECT_EQ(s.nFreq, 48000);  // cut at the NUL
  EXPECT_EQ(s.RecPath[0], "/srv/a/");
}

TEST(SettingsStore, WritesKeepHandEditsMadeMeanwhileAndCrashLeftoversGo) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("kavon.ini.tmp99999"), "half a save");
  test::WriteWholeFile(dir.File("kavon.ini.tmpx"), "not ours");
  test::WriteWholeFile(dir.File("notes.tmp12"), "not ours");
  IniSettingsBackend backend(dir.path());
  EXPECT_FALSE(std::filesystem::exists(dir.File("kavon.ini.tmp99999")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("kavon.ini.tmpx")));
  EXPECT_TRUE(std::filesystem::exists(dir.File("notes.tmp12")));
  SettingsStore store(backend);
  {
    SettingsBatch batch(store);
    ReadAllSettings(store);  // the first start: every default, one save at the end
    EXPECT_FALSE(std::filesystem::exists(dir.File("kavon.ini")));
  }
  // The user edits the file by hand while we run...
  std::string text = test::ReadWholeFile(dir.File("kavon.ini"));
  text = ReplaceAll(text, "MuonMS=3000", "MuonMS=1234") + "; my note\n[mine]\nx=1\n";
  test::WriteWholeFile(dir.File("kavon.ini"), text);
  store.WriteSetting("TimerOn", "0");  // ...and our write keeps the edit
  const std::string after = test::ReadWholeFile(dir.File("kavon.ini"));
  for (const char* kept : {"MuonMS=1234", "; my note", "[mine]\nx=1", "TimerOn=0"}) {
    EXPECT_NE(after.find(kept), std::string::npos) << kept;
  }
}

TEST(SettingsStore, SharedStoreAndHives) {
  test::TempDir dir;
  test::WriteWholeFile(dir.File("common.ini"), "[conf]\nDebugLogPath=/var/log/studio\n");
  IniSettingsBackend backend(dir.path());
  SettingsStore store(backend);
  EXPECT_EQ(store.ReadRegValue("DebugLogPath", "", "common"), "/var/log/studio");
  EXPECT_EQ(store.ReadRegValue("DebugLogPath", "", "", 0, "Software\\tarvelin\\common"), "/var/log/studio");
  EXPECT_EQ(store.ReadRegValue("DebugLogPath", "", "", kHkeyCurrentUser, "Software\\tarvelin\\common"),
            "/var/log/studio");
  EXPECT_EQ(store.ReadRegValue("DebugLogPath", "none", "", 0x80000002u, "Software\\tarvelin\\common"), "none");
  EXPECT_EQ(ReadAllSettings(store).DebugLogPath, "/var/log/studio");
}

TEST(SettingsStore, AFailedSaveKeepsTheOldFile) {
  test::TempDir dir;
  IniSettingsBackend backend(dir.path());
  SettingsStore store(backend);
  store.WriteSetting("NumRec", "2");
  // A folder where the temporary file would go makes the next save fail,
  // even for root.
  std::filesystem::create_directory(dir.File("kavon.ini.tmp" + std::to_string(getpid())));
  store.WriteSetting("NumRec", "5");
  EXPECT_TRUE(store.WriteFailed());
  EXPECT_EQ(store.ReadSetting("NumRec", "3"), "2");
  EXPECT_EQ(test::ReadWholeFile(dir.File("kavon.ini")), "[conf]\nNumRec=2\n");
}

#ifndef _WIN32
// A file a person owns keeps its mode (and, where kavon may, its owner)
// when kavon rewrites it; a file kavon makes anew gets what the umask gives.
// (Windows files take their folder's permissions.)
TEST(SettingsStore, RewrittenFilesKeepTheirModeAndOwner) {
  namespace fs = std::filesystem;
  test::TempDir dir;
  auto mode = [](const std::string& path) { return static_cast<unsigned>(fs::status(path).permissions()) & 0777u; };
  const std::string ini = dir.File("kavon.ini"), timer = dir.File("timer.txt");
  test::WriteWholeFile(ini, "[conf]\nNumRec=2\n");
  test::WriteWholeFile(timer, "\"0\"\r\n");
  fs::permissions(ini, fs::perms{0640});
  fs::permissions(timer, fs::perms{0600});
  const bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(ini.c_str(), 65534, 65534), 0);
  }
  IniSettingsBackend backend(dir.path());
  SettingsStore store(backend);
  store.WriteSetting("NumRec", "3");
  EXPECT_EQ(test::ReadWholeFile(ini), "[conf]\nNumRec=3\n");
  EXPECT_EQ(mode(ini), 0640u);
  if (root) {
    struct stat st {};
    ASSERT_EQ(stat(ini.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
  }
  // A backup of a private file is as private as the file.
  EXPECT_EQ(platform::ReplaceFileAtomically(timer + ".bak", "\"0\"\r\n", timer), "");
  EXPECT_EQ(mode(timer + ".bak"), 0600u);
  const mode_t mask = umask(022);
  umask(mask);
  EXPECT_EQ(platform::ReplaceFileAtomically(dir.File("new.txt"), "x"), "");
  EXPECT_EQ(mode(dir.File("new.txt")), 0666u & ~static_cast<unsigned>(mask));
}
#endif

}  // namespace
}  // namespace kavon
