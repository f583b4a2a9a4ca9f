#include "platform/win/WinClock.h"

#include <windows.h>

#include <cerrno>

namespace kavon::platform {
namespace {

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000LL;

SYSTEMTIME SystemTimeOf(SysMs instant) {
  const int64_t ticks = instant.time_since_epoch().count() * 10000 + kEpochDifference;
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFF);
  ft.dwHighDateTime = static_cast<DWORD>(static_cast<uint64_t>(ticks) >> 32);
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  return st;
}

SysMs InstantOf(const SYSTEMTIME& st) {
  FILETIME ft{};
  SystemTimeToFileTime(&st, &ft);
  const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - kEpochDifference;
  return SysMs(std::chrono::milliseconds(ticks / 10000));
}

SYSTEMTIME ToSystemTime(const CivilTime& c) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(c.year);
  st.wMonth = static_cast<WORD>(c.month);
  st.wDay = static_cast<WORD>(c.day);
  st.wHour = static_cast<WORD>(c.hour);
  st.wMinute = static_cast<WORD>(c.minute);
  st.wSecond = static_cast<WORD>(c.second);
  st.wMilliseconds = static_cast<WORD>(c.millisecond);
  return st;
}

// The right to set the clock is held by administrators but off by default.
void EnableSystemTimePrivilege() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES tp{};
  tp.PrivilegeCount = 1;
  tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  if (LookupPrivilegeValueW(nullptr, L"SeSystemtimePrivilege", &tp.Privileges[0].Luid)) {
    AdjustTokenPrivileges(token, FALSE, &tp, 0, nullptr, nullptr);
  }
  CloseHandle(token);
}

}  // namespace

CivilTime LocalCivilTime(SysMs instant) {
  const SYSTEMTIME utc = SystemTimeOf(instant);
  SYSTEMTIME local{};
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  CivilTime c;
  c.year = local.wYear;
  c.month = local.wMonth;
  c.day = local.wDay;
  c.hour = local.wHour;
  c.minute = local.wMinute;
  c.second = local.wSecond;
  c.millisecond = local.wMilliseconds;
  c.utcOffsetSec = static_cast<int>(
      std::chrono::duration_cast<std::chrono::seconds>(InstantOf(local) - InstantOf(utc)).count());
  return c;
}

SysMs InstantOfLocal(const CivilTime& local) {
  const SYSTEMTIME st = ToSystemTime(local);
  SYSTEMTIME utc{};
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &st, &utc)) utc = st;
  return InstantOf(utc);
}

SysMs WinClock::NowUtc() const {
  FILETIME ft{};
  GetSystemTimePreciseAsFileTime(&ft);
  const int64_t ticks = (static_cast<int64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime) - kEpochDifference;
  return SysMs(std::chrono::milliseconds(ticks / 10000));
}

CivilTime WinClock::ToLocal(SysMs instant) const { return LocalCivilTime(instant); }

double WinClock::SteadySeconds() const {
  LARGE_INTEGER now{}, frequency{};
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

int WinClock::SetLocalTime(const CivilTime& local) {
  EnableSystemTimePrivilege();
  const SYSTEMTIME st = ToSystemTime(local);
  if (::SetLocalTime(&st)) return 0;
  const DWORD error = GetLastError();
  return error == ERROR_PRIVILEGE_NOT_HELD || error == ERROR_ACCESS_DENIED ? EPERM : EINVAL;
}

}  // namespace kavon::platform
