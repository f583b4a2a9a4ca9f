<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>kavon::ui</name>
    <message>
        <location filename="../UiHelpers.cpp" line="122"/>
        <source>フォルダを選択してください</source>
        <translation>Choose a folder</translation>
    </message>
</context>
<context>
    <name>kavon::ui::Calendar</name>
    <message>
        <source>日</source>
        <translation>S</translation>
    </message>
    <message>
        <source>月</source>
        <translation>M</translation>
    </message>
    <message>
        <source>火</source>
        <translation>T</translation>
    </message>
    <message>
        <source>水</source>
        <translation>W</translation>
    </message>
    <message>
        <source>木</source>
        <translation>T</translation>
    </message>
    <message>
        <source>金</source>
        <translation>F</translation>
    </message>
    <message>
        <source>土</source>
        <translation>S</translation>
    </message>
</context>
<context>
    <name>kavon::ui::ConfDialog</name>
    <message>
        <location filename="../ConfDialog.cpp" line="47"/>
        <source>設定</source>
        <translation>Settings</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="55"/>
        <source>kavon.ini の範囲外の値の代わりに、使っている値を表示しています: </source>
        <translation>Values out of range in kavon.ini; shown is the value kavon uses: </translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="67"/>
        <source>（次回起動から）</source>
        <translation>(from the next start)</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="69"/>
        <source>一般</source>
        <translation>General</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="71"/>
        <source>表示サイズ</source>
        <translation>Display size</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="74"/>
        <source>表示フォント</source>
        <translation>Display font</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="80"/>
        <source>録音</source>
        <translation>Recording</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="82"/>
        <source>録音数</source>
        <translation>Channels</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="84"/>
        <source>サンプリング周波数</source>
        <translation>Sampling rate</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="88"/>
        <source>削除日数</source>
        <translation>Days kept</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="90"/>
        <source>入力デバイス</source>
        <translation>Input device</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="91"/>
        <source>レベル</source>
        <translation>Gain</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="92"/>
        <source>フォルダ</source>
        <translation>Folder</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="109"/>
        <source>入力検知録音 開始</source>
        <translation>Detection: start at</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="111"/>
        <source>db  停止</source>
        <translation>dB  stop at</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="113"/>
        <source>db  無音長さ</source>
        <translation>dB  silence length</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="121"/>
        <source>時刻較正</source>
        <translation>Clock correction</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="123"/>
        <source>一日の開始時刻</source>
        <translation>Start of the day</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="131"/>
        <source>毎時</source>
        <translation>Hourly at</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="133"/>
        <source>分</source>
        <translation>min</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="135"/>
        <source>秒  前後</source>
        <translation>s, tolerance</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="137"/>
        <source>秒以外は無視</source>
        <translation>s (signals further off are ignored)</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="150"/>
        <source>較正ピン</source>
        <translation>Time signal code</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="166"/>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <location filename="../ConfDialog.cpp" line="249"/>
        <source>次の値は使えません。何も保存していません。</source>
        <translation>These values cannot be used; nothing was saved.</translation>
    </message>
</context>
<context>
    <name>kavon::ui::FrmGetDate</name>
    <message>
        <location filename="../FrmGetDate.cpp" line="10"/>
        <source>日付選択</source>
        <translation>Pick a date</translation>
    </message>
</context>
<context>
    <name>kavon::ui::MainWindow</name>
    <message>
        <location filename="../MainWindow.cpp" line="80"/>
        <source>タイマー(&amp;T)</source>
        <translation>&amp;Timer</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="82"/>
        <source>設定(&amp;C)</source>
        <translation>&amp;Settings</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="101"/>
        <source>タイマーの入/切</source>
        <translation>Timer list on/off</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="106"/>
        <source>入力検知録音</source>
        <translation>Input detection</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="117"/>
        <source>● 録音</source>
        <translation>● Rec</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="117"/>
        <source>■ 停止</source>
        <translation>■ Stop</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="118"/>
        <source>録音を始める（右クリック: 次の手動録音のファイルを選ぶ）</source>
        <translation>Start recording (right click: choose the file of the next manual recording)</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="119"/>
        <source>録音を止める</source>
        <translation>Stop recording</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="126"/>
        <source>開始</source>
        <translation>Start</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="127"/>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="128"/>
        <source>音が来てから書き始める</source>
        <translation>Start writing when sound comes</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="129"/>
        <source>無音が続いたら止める</source>
        <translation>Stop after a run of silence</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="172"/>
        <source>wavファイル</source>
        <translation>WAV files</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="229"/>
        <source>次のタイマー </source>
        <translation>Next timer </translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="229"/>
        <source>チャンネル </source>
        <translation>channel </translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="233"/>
        <source>次のタイマーはありません</source>
        <translation>No timer entry due</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="266"/>
        <source>終了しますか？</source>
        <translation>Quit kavon?</translation>
    </message>
    <message>
        <location filename="../MainWindow.cpp" line="43"/>
        <source>空き </source>
        <translation>free </translation>
    </message>
</context>
<context>
    <name>kavon::ui::TimerWindow</name>
    <message>
        <location filename="../TimerWindow.cpp" line="55"/>
        <source>タイマー</source>
        <translation>Timer list</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="69"/>
        <source>録音日</source>
        <translation>Date</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="69"/>
        <source>曜日</source>
        <translation>Weekdays</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="69"/>
        <location filename="../TimerWindow.cpp" line="133"/>
        <source>開始時刻</source>
        <translation>Start</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="69"/>
        <location filename="../TimerWindow.cpp" line="134"/>
        <source>録音時間</source>
        <translation>Length</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="69"/>
        <location filename="../TimerWindow.cpp" line="135"/>
        <source>備考</source>
        <translation>Remark</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="69"/>
        <location filename="../TimerWindow.cpp" line="136"/>
        <source>ファイル名</source>
        <translation>File title</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="89"/>
        <source>タイマー(&amp;T)</source>
        <translation>&amp;Timer</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="90"/>
        <source>開く(&amp;O)</source>
        <translation>&amp;Open…</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="91"/>
        <source>保存(&amp;S)</source>
        <translation>&amp;Save…</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="144"/>
        <source>日付</source>
        <translation>Date</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="157"/>
        <source>日付選択</source>
        <translation>Pick a date</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="168"/>
        <source>追加</source>
        <translation>Add</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="168"/>
        <source>上書き</source>
        <translation>Overwrite</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="168"/>
        <source>削除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="293"/>
        <source>タイマーファイルが変更されたため読み直しました。入力中の内容を残しますか？</source>
        <translation>timer.txt changed and was read again. Keep what you were typing?</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="327"/>
        <source>タイマーファイルを保存できません（変更は有効です。ログを参照してください）</source>
        <translation>Cannot save timer.txt (the change is in use; see the log).</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="366"/>
        <source>選択されたタイマーを削除しますか？</source>
        <translation>Delete the selected timer entry?</translation>
    </message>
    <message>
        <location filename="../TimerWindow.cpp" line="430"/>
        <source>タイマーリスト</source>
        <translation>Timer lists</translation>
    </message>
</context>
<context>
    <name>kavon::ui::UC_DatePicker</name>
    <message>
        <location filename="../UC_DatePicker.cpp" line="219"/>
        <source>日付選択</source>
        <translation>Pick a date</translation>
    </message>
    <message>
        <location filename="../UC_DatePicker.cpp" line="34"/>
        <source>%1年%2月%3日</source>
        <translation>%1/%2/%3</translation>
    </message>
</context>
<context>
    <name>kavon::ui::UC_PathText</name>
    <message>
        <location filename="../ConfDialog.cpp" line="37"/>
        <source>フォルダ選択</source>
        <translation>Choose a folder</translation>
    </message>
</context>
<context>
    <name>kavon::ui::Weekday</name>
    <message>
        <location filename="../UiHelpers.cpp" line="132"/>
        <source>日</source>
        <translation>Su</translation>
    </message>
    <message>
        <location filename="../UiHelpers.cpp" line="133"/>
        <source>月</source>
        <translation>Mo</translation>
    </message>
    <message>
        <location filename="../UiHelpers.cpp" line="134"/>
        <source>火</source>
        <translation>Tu</translation>
    </message>
    <message>
        <location filename="../UiHelpers.cpp" line="135"/>
        <source>水</source>
        <translation>We</translation>
    </message>
    <message>
        <location filename="../UiHelpers.cpp" line="136"/>
        <source>木</source>
        <translation>Th</translation>
    </message>
    <message>
        <location filename="../UiHelpers.cpp" line="137"/>
        <source>金</source>
        <translation>Fr</translation>
    </message>
    <message>
        <location filename="../UiHelpers.cpp" line="138"/>
        <source>土</source>
        <translation>Sa</translation>
    </message>
</context>
</TS>
