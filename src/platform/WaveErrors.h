#pragma once
// Texts of the wave-input result codes, shared by every back end; the user
// interface is Japanese.
#include <string>

#include "platform/WaveIn.h"

namespace kavon::platform {

inline std::string StandardWaveErrorText(WaveResult code) {
  switch (code) {
    case kWaveOk: return "エラーはありません";
    case kWaveError: return "不明なエラーが発生しました";
    case kWaveBadDeviceId: return "指定された録音デバイスがありません";
    case kWaveAllocated: return "録音デバイスは使用中です";
    case kWaveInvalidHandle: return "無効なハンドルです";
    case kWaveNoDriver: return "録音デバイスのドライバがありません";
    case kWaveNoMemory: return "メモリが不足しています";
    case kWaveInvalidParam: return "無効なパラメータです";
    case kWaveBadFormat: return "録音デバイスがこの録音形式（サンプリング周波数・16ビット・ステレオ）に対応していません";
    case kWaveStillPlaying: return "バッファは録音中です";
    case kWaveUnprepared: return "バッファが準備されていません";
    case kWaveDeviceLost: return "録音デバイスが切断されたか応答しません";
    default: return "録音デバイスのエラー " + std::to_string(code);
  }
}

}  // namespace kavon::platform
