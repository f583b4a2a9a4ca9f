#include "common/Translate.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

namespace kavon {
namespace {

// Longer phrases first where one contains another ("録音デバイスのエラー"
// before "録音デバイス"): the table is sorted by length once.
constexpr std::array kPhrases = {
    // The timer editor's checks and results.
    Phrase{"開始時刻が不正です", "the start time is not valid"},
    Phrase{"録音時間が不正です", "the length is not valid"},
    Phrase{"録音時間が長すぎます", "the length is too long for one file"},
    Phrase{"録音時間が短すぎます", "the length must be over 10 seconds"},
    Phrase{"録音日を指定してください", "give a date or at least one weekday"},
    Phrase{"現在の日時以後を指定してください", "give a start that is not in the past"},
    Phrase{"開始時刻を指定してください", "give a start time"},
    Phrase{"ファイル名が長すぎます", "the file title is longer than 32 characters"},
    Phrase{"タイマーが重複しています", "the entry overlaps another of its channel"},
    Phrase{"追加しました", "added"},
    Phrase{"変更しました", "changed"},
    Phrase{"タイマーリストが変更されたため削除しませんでした", "the timer list changed meanwhile: nothing was deleted"},
    Phrase{"ファイルがありません", "no such file:"},
    Phrase{"タイマーリストを読めません", "cannot read the timer list"},
    Phrase{"タイマーリストを保存できません", "cannot save the timer list"},
    // The settings dialog's fields, in its refusals and notes.
    Phrase{"表示サイズ", "display size"},
    Phrase{"録音数", "channels"},
    Phrase{"削除日数", "days kept"},
    Phrase{"レベル ", "gain of channel "},
    Phrase{"入力検知録音 開始", "detection start level"},
    Phrase{"入力検知録音 停止", "detection stop level"},
    Phrase{"無音長さ", "silence length"},
    Phrase{"一日の開始時刻", "start of the day"},
    Phrase{"毎時 分", "minute of the hourly signal"},
    Phrase{"前後 秒以外は無視", "tolerance in seconds"},
    Phrase{"秒: ", "second of the hourly signal: "},
    Phrase{"秒", " s"},
    Phrase{"～", "to"},
    Phrase{"（未接続）", " (not connected)"},
    // Starts that failed, and what a channel's row shows.
    Phrase{"ファイルを作成できません", "cannot create the file"},
    Phrase{"名前の空きがありません", "no free name is left"},
    Phrase{"まで使用中", "all taken up to"},
    Phrase{"音声欠落", "audio lost on channel"},
    Phrase{"録音停止（中断）", "recording stopped on channel"},
    Phrase{"録音デバイス切断", "the input device went away:"},
    Phrase{"録音デバイス待ち（2秒ごとに再試行）", "waiting for the device (tried every 2 s)"},
    Phrase{"書き込みエラー", "writing fails:"},
    Phrase{"無音", "dead air"},
    Phrase{"デバイス停止", "device stalled"},
    Phrase{"空き容量不足", "disk nearly full"},
    Phrase{"書き込み遅延", "disk behind"},
    Phrase{"シリアルポート未接続", "serial box not connected:"},
    Phrase{"シリアルポート切断", "serial box unplugged:"},
    Phrase{"HID 未接続", "HID box not connected"},
    Phrase{"HID 切断", "HID box unplugged"},
    Phrase{"HID 応答なし", "HID box not answering"},
    // The input devices' errors.
    Phrase{"エラーはありません", "no error"},
    Phrase{"不明なエラーが発生しました", "an unknown error occurred"},
    Phrase{"指定された録音デバイスがありません", "the input device does not exist"},
    Phrase{"録音デバイスは使用中です", "the input device is in use"},
    Phrase{"無効なハンドルです", "invalid handle"},
    Phrase{"録音デバイスのドライバがありません", "the input device has no driver"},
    Phrase{"メモリが不足しています", "out of memory"},
    Phrase{"無効なパラメータです", "invalid parameter"},
    Phrase{"録音デバイスがこの録音形式（サンプリング周波数・16ビット・ステレオ）に対応していません",
           "the input device does not take this format (the sampling rate, 16 bits, stereo)"},
    Phrase{"バッファは録音中です", "the buffer is still recording"},
    Phrase{"バッファが準備されていません", "the buffer is not prepared"},
    Phrase{"録音デバイスが切断されたか応答しません", "the input device went away or does not answer"},
    Phrase{"録音デバイスのエラー", "input device error"},
};

const std::vector<Phrase>& ByLength() {
  static const std::vector<Phrase> sorted = [] {
    std::vector<Phrase> v(kPhrases.begin(), kPhrases.end());
    std::stable_sort(v.begin(), v.end(), [](const Phrase& a, const Phrase& b) { return a.ja.size() > b.ja.size(); });
    return v;
  }();
  return sorted;
}

}  // namespace

std::string Translate(const Lang& lang, std::string_view text) {
  std::string out(text);
  if (lang.Mode() != Lang::kEnglish) return out;
  for (const Phrase& p : ByLength()) {
    for (size_t at = out.find(p.ja); at != std::string::npos; at = out.find(p.ja, at + p.en.size())) {
      out.replace(at, p.ja.size(), p.en);
    }
  }
  // What is left between full-width brackets (a system's own error text)
  // stands in English brackets.
  for (const auto& [ja, en] : {std::pair{"（", " ("}, std::pair{"）", ")"}}) {
    for (size_t at = out.find(ja); at != std::string::npos; at = out.find(ja, at)) out.replace(at, 3, en);
  }
  return out;
}

std::span<const Phrase> Phrases() { return kPhrases; }

}  // namespace kavon
