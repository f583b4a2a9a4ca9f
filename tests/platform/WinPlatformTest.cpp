// The Windows back ends under wine: the registry store with its
// conventions, Japanese and long file names, the single instance across
// processes, winmm capture, the clock's zone conversions. The wine prefix is the test
// run's own (scripts/test-windows), so the registry written here is too.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "app/SettingsStore.h"
#include "common/FileHelpers.h"
#include "platform/Clock.h"
#include "platform/FileSync.h"
#include "platform/InstanceLock.h"
#include "platform/Utf8Path.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinText.h"
#include "platform/win/WinWaveIn.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

using platform::Wide;

// A registry root of this test's own, removed afterwards.
struct TestKey {
  std::string root = "Software\\kavon-test-" + std::to_string(std::random_device{}());
  ~TestKey() { RegDeleteTreeW(HKEY_CURRENT_USER, Wide(root).c_str()); }
  void SetRaw(const std::string& app, const std::string& name, DWORD type, const void* data, DWORD bytes) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, Wide(root + "\\" + app).c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExW(key, Wide(name).c_str(), 0, type, static_cast<const BYTE*>(data), bytes);
    RegCloseKey(key);
  }
};

TEST(WinRegistry, RoundTripConventionsAndBadValues) {
  TestKey k;
  platform::RegistrySettingsBackend backend(k.root);
  SettingsStore store(backend);
  store.WriteSetting("RecPath_1", "D:\\録音\\朝");
  store.WriteSetting("Empty", "");
  EXPECT_EQ(store.ReadSetting("RecPath_1", "x"), "D:\\録音\\朝");
  EXPECT_EQ(backend.Read("kavon", "conf", "Empty"), std::optional<std::string>("***"));
  EXPECT_EQ(store.ReadSetting("Empty", "x"), "");
  EXPECT_EQ(store.ReadSetting("Missing", "7"), "7");
  EXPECT_EQ(backend.Location("kavon"), "HKEY_CURRENT_USER\\" + k.root + "\\kavon");

  // DebugLogPath lives beside the program's key, under "common".
  k.SetRaw("common", "DebugLogPath", REG_SZ, L"C:\\log", sizeof(L"C:\\log"));
  EXPECT_EQ(store.ReadRegValue("DebugLogPath", "", "common"), "C:\\log");

  // A number stored as a DWORD, or a value longer than any setting, reads
  // as absent and is noted for the log.
  const DWORD number = 5;
  k.SetRaw("kavon", "NumRec", REG_DWORD, &number, sizeof number);
  const std::wstring huge(40000, L'a');
  k.SetRaw("kavon", "RecPath_2", REG_SZ, huge.c_str(), static_cast<DWORD>((huge.size() + 1) * sizeof(wchar_t)));
  EXPECT_EQ(store.ReadSetting("NumRec", "1"), "1");
  EXPECT_EQ(store.ReadSetting("RecPath_2", "d"), "d");
  const auto notes = store.TakeNotes();
  ASSERT_EQ(notes.size(), 2u);
  EXPECT_NE(notes[0].find("NumRec"), std::string::npos);
  EXPECT_NE(notes[1].find("RecPath_2"), std::string::npos);
}

TEST(WinFiles, JapaneseAndLongNamesAreWrittenAndReadBack) {
  test::TempDir dir;
  const std::string name = dir.File("録音：1.wav");
  const char data[] = "RIFF";
  ASSERT_EQ(WriteFileAt(data, 4, 0, name), 1);
  EXPECT_EQ(FileExists(name), 1);
  // The name on disk, as the system lists it, is the Japanese one.
  WIN32_FIND_DATAW found{};
  HANDLE h = FindFirstFileW((Wide(dir.path()) + L"\\*.wav").c_str(), &found);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  FindClose(h);
  EXPECT_EQ(platform::Utf8(found.cFileName), "録音：1.wav");
  EXPECT_EQ(platform::ReplaceFileAtomically(dir.File("タイマー.txt"), "\"0\"\r\n"), "");
  EXPECT_EQ(test::ReadWholeFile(dir.File("タイマー.txt")), "\"0\"\r\n");

  // Names typed the Windows way.
  EXPECT_EQ(SplitPath("D:\\録音\\朝.wav", true, false, false, false, false), "D:\\録音");
  EXPECT_EQ(SplitPath("D:\\録音\\朝.wav", false, false, true, true, true), "朝.wav");
  EXPECT_EQ(Backslash("D:\\録音\\"), "D:\\録音\\");
  EXPECT_EQ(Backslash("D:\\録音\\", true), "D:\\録音");

  // Past 260 characters.
  std::string deep = dir.path();
  while (deep.size() < 300) deep += "/フォルダ" + std::to_string(deep.size());
  ASSERT_EQ(MakeDirs(deep), 1);
  EXPECT_EQ(platform::ReplaceFileAtomically(deep + "/kavon.ini", "[conf]\r\n"), "");
  EXPECT_EQ(FileExists(deep + "/kavon.ini"), 1);
}

TEST(WinInstance, OneKavonPerHomeAcrossProcesses) {
  test::TempDir dir;
  using Result = platform::InstanceLock::Result;
  auto first = platform::MakeInstanceLock(dir.File("kavon.lock"));
  ASSERT_EQ(first->Acquire(), Result::Acquired);
  EXPECT_EQ(platform::MakeInstanceLock(dir.File("kavon.lock"))->Acquire(), Result::HeldByAnother);
  // The same folder spelled otherwise is the same home.
  EXPECT_EQ(platform::MakeInstanceLock(dir.File("sub/../kavon.lock"))->Acquire(), Result::HeldByAnother);
  test::TempDir other;
  EXPECT_EQ(platform::MakeInstanceLock(other.File("kavon.lock"))->Acquire(), Result::Acquired);

  // A second kavon.exe on the same home refuses to run.
  const char* bin = std::getenv("KAVON_BIN");
  ASSERT_NE(bin, nullptr);
  std::string exe = bin;
  if (!exe.empty() && exe[0] == '/') exe = "Z:" + exe;  // wine sees the build tree as drive Z:
  std::wstring command = L"\"" + Wide(exe) + L"\" --home \"" + Wide(dir.path()) + L"\" --list-devices --audio sim";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi));
  ASSERT_EQ(WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  EXPECT_EQ(code, 1u);
}

// scripts/test-windows plays a stereo ramp (left n mod 30000, right its
// negative) into a PulseAudio null sink whose monitor is the default
// source; wine hands it to winmm unconverted, so every frame can be checked.
TEST(WinWaveIn, RecordsTheRampFrameForFrame) {
  if (!std::getenv("KAVON_TEST_RAMP")) GTEST_SKIP() << "no ramp is playing (scripts/test-windows plays one)";
  platform::WinWaveIn wave;
  ASSERT_GT(wave.DeviceCount(), 0);
  platform::WaveHandle h = 0;
  ASSERT_EQ(wave.Open(&h, platform::kWaveMapper, platform::WaveFormat{}), platform::kWaveOk);
  constexpr uint32_t kFrames = 4410;
  std::vector<std::unique_ptr<platform::WaveBuffer>> buffers;
  for (int i = 0; i < 8; ++i) {
    auto b = std::make_unique<platform::WaveBuffer>();
    b->samples.resize(kFrames * 2);
    b->bufferLength = kFrames * 4;
    ASSERT_EQ(wave.Prepare(h, b.get()), platform::kWaveOk);
    ASSERT_EQ(wave.AddBuffer(h, b.get()), platform::kWaveOk);
    buffers.push_back(std::move(b));
  }
  ASSERT_EQ(wave.Start(h), platform::kWaveOk);
  // Buffers come back in the order they were queued; each goes back in.
  std::vector<int16_t> got;
  size_t next = 0;
  const DWORD until = GetTickCount() + 10000;
  while (got.size() < 2 * 44100 * 2 && GetTickCount() < until) {
    platform::WaveBuffer& b = *buffers[next];
    if (!b.Done()) {
      Sleep(5);
      continue;
    }
    got.insert(got.end(), b.samples.begin(), b.samples.begin() + b.bytesRecorded / 2);
    ASSERT_EQ(wave.AddBuffer(h, &b), platform::kWaveOk);
    next = (next + 1) % buffers.size();
  }
  uint64_t position = 0;
  EXPECT_EQ(wave.Position(h, &position), platform::kWaveOk);
  EXPECT_GT(position, 0u);
  EXPECT_EQ(wave.Reset(h), platform::kWaveOk);
  for (auto& b : buffers) {
    EXPECT_TRUE(b->Done());
    EXPECT_EQ(wave.Unprepare(h, b.get()), platform::kWaveOk);
  }
  EXPECT_EQ(wave.Close(h), platform::kWaveOk);

  // From the first sound on, frame after frame of the ramp: none lost,
  // none doubled, none changed.
  size_t first = 0;
  while (first + 1 < got.size() && got[first] == 0) first += 2;
  const size_t frames = (got.size() - first) / 2;
  ASSERT_GE(frames, 44100u);
  int wrong = 0;
  for (size_t i = 1; i < frames; ++i) {
    const int16_t left = got[first + 2 * i], before = got[first + 2 * i - 2], right = got[first + 2 * i + 1];
    if ((left - before + 30000) % 30000 != 1 || right != -left) ++wrong;
  }
  EXPECT_EQ(wrong, 0) << frames << " frames from " << got[first];
  EXPECT_FALSE(wave.ErrorText(platform::kWaveBadDeviceId).empty());
}

TEST(WinClock, LocalTimeRoundTrips) {
  const platform::CivilTime noon{2024, 7, 1, 12, 30, 15, 250, 0};
  const platform::CivilTime back = platform::LocalCivilTime(platform::InstantOfLocal(noon));
  EXPECT_EQ(back.year, 2024);
  EXPECT_EQ(back.month, 7);
  EXPECT_EQ(back.day, 1);
  EXPECT_EQ(back.hour, 12);
  EXPECT_EQ(back.minute, 30);
  EXPECT_EQ(back.second, 15);
  EXPECT_EQ(back.millisecond, 250);
}

}  // namespace
}  // namespace kavon
