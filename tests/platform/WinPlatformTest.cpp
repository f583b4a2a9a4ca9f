// The Windows back ends under wine: the registry store with its
// conventions, Japanese and long file names, the single instance across
// processes, winmm capture and its dropped frames, the control pipe, the
// clock's zone conversions; and kavon.exe as Windows starts and ends it
// (a UTF-16 command line, settings in every encoding, the end of a
// session, another program after its file). The wine prefix is the test
// run's own (scripts/test-windows), so the registry written here is too.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "app/SettingsStore.h"
#include "common/FileHelpers.h"
#include "platform/Clock.h"
#include "platform/ControlSocket.h"
#include "platform/FileSync.h"
#include "platform/InstanceLock.h"
#include "platform/Utf8Path.h"
#include "platform/win/WinConsoleEvents.h"
#include "platform/win/WinControlPipe.h"
#include "platform/win/WinRegistry.h"
#include "platform/win/WinText.h"
#include "platform/win/WinWaveIn.h"
#include "support/TempDir.h"

namespace kavon {
namespace {

using platform::Wide;

// kavon.exe (KAVON_BIN) started with a UTF-16 command line, as Windows
// starts programs.
struct Kavon {
  PROCESS_INFORMATION pi{};
  Kavon(const std::string& home, const std::wstring& args, DWORD flags = 0) {
    const char* bin = std::getenv("KAVON_BIN");
    EXPECT_NE(bin, nullptr);
    std::string exe = bin ? bin : "kavon.exe";
    if (!exe.empty() && exe[0] == '/') exe = "Z:" + exe;  // wine sees the build tree as drive Z:
    std::wstring command = L"\"" + Wide(exe) + L"\" --home \"" + Wide(home) + L"\" " + args;
    STARTUPINFOW si{};
    si.cb = sizeof si;
    EXPECT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, flags, nullptr, nullptr, &si, &pi));
  }
  ~Kavon() {
    if (!pi.hProcess) return;
    if (WaitForSingleObject(pi.hProcess, 0) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  Kavon(const Kavon&) = delete;
  Kavon& operator=(const Kavon&) = delete;
  // The exit code, or STILL_ACTIVE when it did not end in time.
  DWORD Wait(DWORD ms = 60000) {
    if (WaitForSingleObject(pi.hProcess, ms) != WAIT_OBJECT_0) return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(pi.hProcess, &code);
    return code;
  }
};

// Every daily log of the home, one after the other.
std::string LogsOf(const std::string& home) {
  std::string text;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(platform::U8Path(home + "/log"), ec)) {
    if (e.path().extension() == ".log") text += test::ReadWholeFile(platform::U8String(e.path()));
  }
  return text;
}

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
  Kavon second(dir.path(), L"--list-devices --audio sim");
  EXPECT_EQ(second.Wait(), 1u);
}

// Recordings of --record-test in folder, and the seconds of audio in each
// whose header states all of its data (-1 when it does not).
std::vector<double> Recordings(const std::string& folder) {
  std::vector<double> seconds;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(platform::U8Path(folder), ec)) {
    if (entry.path().extension() != ".wav") continue;
    const std::string bytes = test::ReadWholeFile(platform::U8String(entry.path()));
    if (bytes.size() < 44) continue;
    uint32_t data = 0;
    std::memcpy(&data, bytes.data() + 40, 4);
    seconds.push_back(data == bytes.size() - 44 ? data / 176400.0 : -1);
  }
  return seconds;
}

// A Japanese home on the command line (UTF-16, as Explorer or a shortcut
// passes it), and settings saved by Windows editors: each records into the
// folder its kavon.ini names.
TEST(WinProcess, JapaneseHomesAndSettingsInEveryEncodingRecord) {
  test::TempDir dir;
  struct Case {
    const char* what;
    std::string ini;  // bytes of kavon.ini; {out} stands for the folder
    const char* out;
  };
  const auto cp932 = [](const std::string& utf8) {
    const std::wstring w = Wide(utf8);
    const int n = WideCharToMultiByte(932, 0, w.data(), static_cast<int>(w.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(932, 0, w.data(), static_cast<int>(w.size()), out.data(), n, nullptr, nullptr);
    return out;
  };
  const auto utf16 = [](const std::string& utf8) {
    const std::wstring w = L"\xFEFF" + Wide(utf8);
    return std::string(reinterpret_cast<const char*>(w.data()), w.size() * 2);
  };
  const std::vector<Case> cases = {
      {"UTF-8", "[conf]\r\nNumRec=0\r\nRecPath_1={out}\r\n", "録音（UTF-8）"},
      {"Shift-JIS", "cp932", "番組"},
      {"UTF-16", "utf16", "朝の番組"},
  };
  for (const auto& c : cases) {
    const std::string home = dir.File(std::string("ホーム ") + c.what);
    const std::string out = home + "\\" + c.out;
    ASSERT_EQ(MakeDirs(out), 1);
    const std::string ini = "[conf]\r\nNumRec=0\r\nRecPath_1=" + out + "\r\n";
    const std::string bytes = c.ini == std::string("cp932") ? cp932(ini) : c.ini == std::string("utf16") ? utf16(ini) : ini;
    test::WriteWholeFile(home + "/kavon.ini", bytes);
    Kavon kavon(home, L"--audio sim --record-test 1");
    EXPECT_EQ(kavon.Wait(), 0u) << c.what;
    const std::vector<double> got = Recordings(out);
    ASSERT_EQ(got.size(), 1u) << c.what;
    EXPECT_NEAR(got[0], 1.0, 0.3) << c.what;
  }
}

// The window that answers the end of a session, in kavon's process.
HWND SessionWindowOf(DWORD process) {
  struct Search {
    DWORD process;
    HWND found = nullptr;
  } search{process};
  EnumWindows(
      [](HWND w, LPARAM p) -> BOOL {
        auto* s = reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(w, &owner);
        wchar_t name[64] = {};
        GetClassNameW(w, name, 64);
        if (owner != s->process || std::wstring(name) != L"kavon-session") return TRUE;
        s->found = w;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The end of a session (logoff, shutdown) stops a recording with every
// byte in the file and its header, and is answered only once that is so:
// Windows ends the process right after. (Ctrl+C: scripts/test-windows.)
TEST(WinProcess, TheEndOfASessionIsAnsweredOnceEverythingIsFlushed) {
  test::TempDir home;
  test::WriteWholeFile(home.File("kavon.ini"), "[conf]\r\nNumRec=0\r\nRecPath_1=" + home.path() + "\r\n");
  Kavon kavon(home.path(), L"--audio sim --record-test 60");
  for (int i = 0; i < 100 && Recordings(home.path()).empty(); ++i) Sleep(100);
  Sleep(1500);
  HWND window = nullptr;
  for (int i = 0; i < 50 && !window; ++i, Sleep(100)) window = SessionWindowOf(kavon.pi.dwProcessId);
  ASSERT_NE(window, nullptr);
  DWORD_PTR answer = 0;
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_BLOCK, 5000, &answer));
  EXPECT_EQ(answer, static_cast<DWORD_PTR>(TRUE));
  ASSERT_TRUE(SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_BLOCK, 30000, &answer));
  // Answered: what Windows would now end is already on the disk.
  EXPECT_NE(LogsOf(home.path()).find("****終了****"), std::string::npos);
  std::vector<double> got = Recordings(home.path());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_GT(got[0], 1.0) << "the header states all the data";
  EXPECT_LT(got[0], 30.0) << "it stopped when asked";
  EXPECT_EQ(kavon.Wait(30000), 0u);
  EXPECT_EQ(Recordings(home.path()), got);
}

// A backup or a virus scan that wants the file to itself for 10 s while it
// is recorded: once kavon has written to it, it holds it open (shared) and
// the other program cannot; before that, what it kept kavon from writing
// goes in afterwards. Either way no audio is lost.
TEST(WinProcess, AnotherProgramCannotLockARecordingAwayFromKavon) {
  test::TempDir home;
  test::WriteWholeFile(home.File("kavon.ini"), "[conf]\r\nNumRec=0\r\nRecPath_1=" + home.path() + "\r\n");
  Kavon kavon(home.path(), L"--audio sim --record-test 16");
  std::string wav;
  for (int i = 0; i < 100 && wav.empty(); ++i, Sleep(100)) {
    for (const auto& e : std::filesystem::directory_iterator(platform::U8Path(home.path()))) {
      if (e.path().extension() == ".wav") wav = platform::U8String(e.path());
    }
  }
  ASSERT_FALSE(wav.empty());
  // Tries for 10 s to open it sharing nothing, and keeps it when it can.
  HANDLE held = INVALID_HANDLE_VALUE;
  for (const DWORD until = GetTickCount() + 10000; GetTickCount() < until; Sleep(50)) {
    if (held == INVALID_HANDLE_VALUE) {
      held = CreateFileW(Wide(wav).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  }
  if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  EXPECT_EQ(kavon.Wait(60000), 0u);
  const std::vector<double> got = Recordings(home.path());
  ASSERT_EQ(got.size(), 1u);
  EXPECT_NEAR(got[0], 16.0, 0.5);
}

// count buffers of `frames` stereo frames, prepared and queued on h.
void QueueBuffers(platform::WinWaveIn& wave, platform::WaveHandle h, int count, uint32_t frames,
                  std::vector<std::unique_ptr<platform::WaveBuffer>>& buffers) {
  for (int i = 0; i < count; ++i) {
    auto b = std::make_unique<platform::WaveBuffer>();
    b->samples.resize(frames * 2);
    b->bufferLength = frames * 4;
    ASSERT_EQ(wave.Prepare(h, b.get()), platform::kWaveOk);
    ASSERT_EQ(wave.AddBuffer(h, b.get()), platform::kWaveOk);
    buffers.push_back(std::move(b));
  }
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
  std::vector<std::unique_ptr<platform::WaveBuffer>> buffers;
  ASSERT_NO_FATAL_FAILURE(QueueBuffers(wave, h, 8, 4410, buffers));
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
  EXPECT_EQ(wave.DroppedFrames(h), 0u) << "a device that kept up dropped nothing";
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

// The engine stands still for 8 s with 1 s of buffers queued: winmm says
// nothing, but what it could not deliver is counted as dropped, once.
TEST(WinWaveIn, AStallLongerThanItsBuffersIsCountedAsDropped) {
  if (!std::getenv("KAVON_TEST_RAMP")) GTEST_SKIP() << "no source is playing (scripts/test-windows plays one)";
  platform::WinWaveIn wave;
  platform::WaveHandle h = 0;
  ASSERT_EQ(wave.Open(&h, platform::kWaveMapper, platform::WaveFormat{}), platform::kWaveOk);
  std::vector<std::unique_ptr<platform::WaveBuffer>> buffers;
  ASSERT_NO_FATAL_FAILURE(QueueBuffers(wave, h, 4, 11025, buffers));
  ASSERT_EQ(wave.Start(h), platform::kWaveOk);
  // Counted, as the back end does, from the first audio on: the driver's
  // start is no loss.
  DWORD begin = 0;
  uint64_t delivered = 0;
  size_t next = 0;
  const auto serve = [&](DWORD ms) {
    for (const DWORD until = GetTickCount() + ms; GetTickCount() < until;) {
      platform::WaveBuffer& b = *buffers[next];
      if (!b.Done()) {
        Sleep(5);
        continue;
      }
      if (begin == 0) {
        begin = GetTickCount();
      } else {
        delivered += b.bytesRecorded / 4;
      }
      ASSERT_EQ(wave.AddBuffer(h, &b), platform::kWaveOk);
      next = (next + 1) % buffers.size();
    }
  };
  // A driver may take seconds to deliver its first buffer on a busy machine.
  for (int i = 0; i < 100 && begin == 0; ++i) serve(100);
  ASSERT_NE(begin, 0u) << "no audio came";
  serve(2500);
  EXPECT_EQ(wave.DroppedFrames(h), 0u);
  Sleep(8000);
  serve(4000);
  const double elapsed = (GetTickCount() - begin) / 1000.0;
  const double dropped = static_cast<double>(wave.DroppedFrames(h)) / 44100;
  EXPECT_GT(dropped, 3.0);
  EXPECT_LT(dropped, 8.0);
  EXPECT_NEAR(static_cast<double>(delivered) / 44100 + dropped, elapsed, 1.0);
  EXPECT_EQ(wave.Status(h), platform::kWaveOk);
  wave.Reset(h);
  for (auto& b : buffers) wave.Unprepare(h, b.get());
  wave.Close(h);
}

// A kavon that never answers (stopped, hung, or another program on its
// pipe's name) costs kavon ctl 5 s, not forever; and a kavon whose pipe
// name another program took first does not listen behind it.
TEST(WinControlPipe, ACtlGivesUpOnSilenceAndAPipeNameIsNeverShared) {
  test::TempDir dir;
  const std::string socket = dir.File("kavon.sock");
  auto first = platform::MakeControlServer();  // never polled: it never answers
  ASSERT_EQ(first->Listen(socket), "");
  auto second = platform::MakeControlServer();
  EXPECT_NE(second->Listen(socket), "");
  std::string why;
  const ULONGLONG begin = GetTickCount64();
  EXPECT_FALSE(platform::SendControlRequest(socket, "status", &why));
  const ULONGLONG took = GetTickCount64() - begin;
  EXPECT_GE(took, 4500u);
  EXPECT_LT(took, 9000u);
  EXPECT_NE(why.find("5 s"), std::string::npos) << why;
  EXPECT_EQ(platform::ControlEndpointName(socket).rfind("\\\\.\\pipe\\kavon-", 0), 0u);
}

// A user logging off must not stop the service that records for the
// station; a console kavon flushes before any end of its own.
TEST(WinConsoleEvents, AServiceOutlivesALogoff) {
  using A = platform::ConsoleEventAnswer;
  const struct {
    DWORD event;
    A console, service;
  } cases[] = {
      {CTRL_C_EVENT, A::Stop, A::Stop},
      {CTRL_BREAK_EVENT, A::Stop, A::Stop},
      {CTRL_CLOSE_EVENT, A::StopAndWait, A::StopAndWait},
      {CTRL_LOGOFF_EVENT, A::StopAndWait, A::PassOn},
      {CTRL_SHUTDOWN_EVENT, A::StopAndWait, A::PassOn},
      {7, A::PassOn, A::PassOn},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(platform::AnswerConsoleEvent(c.event, false), c.console) << c.event;
    EXPECT_EQ(platform::AnswerConsoleEvent(c.event, true), c.service) << c.event;
  }
}

// The accounts a pipe's descriptor lets in, as the system reads it.
std::vector<WELL_KNOWN_SID_TYPE> AdmittedBy(const std::wstring& sddl, PSID user) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) return {};
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  std::vector<WELL_KNOWN_SID_TYPE> admitted;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  for (DWORD i = 0; present && dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    PSID sid = &ace->SidStart;
    if (EqualSid(sid, user)) admitted.push_back(WinNullSid);  // stands for "the user itself"
    if (IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) admitted.push_back(WinBuiltinAdministratorsSid);
  }
  LocalFree(sd);
  return admitted;
}

// The service runs as the system account: without the administrators on
// its pipe no one could ask it anything. A user's own kavon stays its own.
TEST(WinControlPipe, TheServiceIsAskedByAdministratorsAUserKavonOnlyByItsUser) {
  const struct {
    const wchar_t* sid;
    std::vector<WELL_KNOWN_SID_TYPE> admitted;
  } cases[] = {
      {L"S-1-5-18", {WinNullSid, WinBuiltinAdministratorsSid}},
      {L"S-1-5-20", {WinNullSid, WinBuiltinAdministratorsSid}},
      {L"S-1-5-21-1-2-3-1001", {WinNullSid}},
      {L"S-1-5-21-1-2-3-500", {WinNullSid}},
  };
  for (const auto& c : cases) {
    PSID user = nullptr;
    ASSERT_TRUE(ConvertStringSidToSidW(c.sid, &user));
    EXPECT_EQ(AdmittedBy(platform::ControlPipeAccess(c.sid), user), c.admitted) << platform::Utf8(c.sid);
    LocalFree(user);
  }
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
