// The program's own texts, as the code page 932 bytes that it shows and writes. Each is given
// in UTF-8 beside it; tests check the two against each other.
#ifndef KVX_PROGRAM_TEXTS_H
#define KVX_PROGRAM_TEXTS_H

#include <string_view>

namespace kvx::texts {

// CSV header lines.
inline constexpr std::string_view kFileNameLabel =  // ファイルネーム,
    "\x83t\x83@\x83"
    "C\x83\x8b\x83l\x81[\x83\x80,";
inline constexpr std::string_view kStartTimeLabel =  // 測定開始時間,
    "\x91\xaa\x92\xe8\x8aJ\x8en\x8e\x9e\x8a\xd4,";
inline constexpr std::string_view kYearSuffix = "\x94N,";       // 年,
inline constexpr std::string_view kMonthSuffix = "\x8c\x8e,";   // 月,
inline constexpr std::string_view kDaySuffix = "\x93\xfa,";     // 日,
inline constexpr std::string_view kHourSuffix = "\x8e\x9e,";    // 時,
inline constexpr std::string_view kMinuteSuffix = "\x95\xaa,";  // 分,
inline constexpr std::string_view kSecondSuffix =
    "\x95"
    "b";                                            // 秒
inline constexpr std::string_view kIntervalLabel =  // インターバル,
    "\x83"
    "C\x83\x93\x83^\x81[\x83o\x83\x8b,";
inline constexpr std::string_view kRelativeTimeColumns =  // サンプリング№,時:分:秒,
    "\x83T\x83\x93\x83v\x83\x8a\x83\x93\x83O\x87\x82,\x8e\x9e:\x95\xaa:\x95"
    "b,";
inline constexpr std::string_view kAbsoluteTimeColumns =  // サンプリングNo.,年/月/日,時:分:秒,
    "\x83T\x83\x93\x83v\x83\x8a\x83\x93\x83ONo.,\x94N/\x8c\x8e/\x93\xfa,\x8e\x9e:\x95\xaa:\x95"
    "b,";
inline constexpr std::string_view kValueColumns =  // サンプリング№,
    "\x83T\x83\x93\x83v\x83\x8a\x83\x93\x83O\x87\x82,";
inline constexpr std::string_view kMeasurementTimeColumns =  // サンプリングNo.,計測時間,
    "\x83T\x83\x93\x83v\x83\x8a\x83\x93\x83ONo.,\x8cv\x91\xaa\x8e\x9e\x8a\xd4,";

// Interval labels and units.
inline constexpr std::string_view kMilliseconds =
    "\x83~\x83\x8a\x95"
    "b";                                                  // ミリ秒
inline constexpr std::string_view kMinutes = "\x95\xaa";  // 分
inline constexpr std::string_view kSeconds =
    "\x95"
    "b";                                                  // 秒
inline constexpr std::string_view kCelsius = "\x81\x8e";  // ℃
inline constexpr std::string_view kFahrenheit =
    "\x81\x8b"
    "F";  // °F

// Messages to the operator.
inline constexpr std::string_view kNoMemory =  // メモリが確保できません\n
    "\x83\x81\x83\x82\x83\x8a\x82\xaa\x8am\x95\xdb\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\n";
inline constexpr std::string_view kCaptureNotOpened =  // エラー\r\nファイルが作成できません。\n
    "\x83G\x83\x89\x81[\r\n\x83t\x83@\x83"
    "C\x83\x8b\x82\xaa\x8d\xec\x90\xac\x82\xc5\x82\xab"
    "\x82\xdc\x82\xb9\x82\xf1\x81"
    "B\n";
// ファイル名が“QM-9999.csv”を超えます。\r\nファイル名またはフォルダ名を変更して下さい。\n
inline constexpr std::string_view kPastLastFileNumber =
    "\x83t\x83@\x83"
    "C\x83\x8b\x96\xbc\x82\xaa\x81gQM-9999.csv\x81h\x82\xf0\x92\xb4\x82\xa6"
    "\x82\xdc\x82\xb7\x81"
    "B\r\n\x83t\x83@\x83"
    "C\x83\x8b\x96\xbc\x82\xdc\x82\xbd\x82\xcd"
    "\x83t\x83H\x83\x8b\x83_\x96\xbc\x82\xf0\x95\xcf\x8dX\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82"
    "\xa2\x81"
    "B\n";
inline constexpr std::string_view kFolderNotCreated =  // QM-DATAフォルダの作成に失敗しました。
    "QM-DATA\x83t\x83H\x83\x8b\x83_\x82\xcc\x8d\xec\x90\xac\x82\xc9\x8e\xb8\x94s\x82\xb5\x82"
    "\xdc\x82\xb5\x82\xbd\x81"
    "B";
// エラー\r\nファイルが作成できません。\r\nQM-DATAフォルダを確認して下さい。\n
inline constexpr std::string_view kCsvNotCreated =
    "\x83G\x83\x89\x81[\r\n\x83t\x83@\x83"
    "C\x83\x8b\x82\xaa\x8d\xec\x90\xac\x82\xc5\x82\xab"
    "\x82\xdc\x82\xb9\x82\xf1\x81"
    "B\r\nQM-DATA\x83t\x83H\x83\x8b\x83_\x82\xf0\x8am\x94"
    "F"
    "\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81"
    "B\n";

// The transfer.
inline constexpr std::string_view kChooseFolderTitle =  // 保存先のフォルダを選択してください
    "\x95\xdb\x91\xb6\x90\xe6\x82\xcc\x83t\x83H\x83\x8b\x83_\x82\xf0\x91I\x91\xf0\x82\xb5"
    "\x82\xc4\x82\xad\x82\xbe\x82\xb3\x82\xa2";
// エラー\r\nファイルが作成できません。\r\nインストール先を変更して下さい。\n
inline constexpr std::string_view kTemporaryFileNotCreated =
    "\x83G\x83\x89\x81[\r\n\x83t\x83@\x83"
    "C\x83\x8b\x82\xaa\x8d\xec\x90\xac\x82\xc5\x82\xab"
    "\x82\xdc\x82\xb9\x82\xf1\x81"
    "B\r\n\x83"
    "C\x83\x93\x83X\x83g\x81[\x83\x8b\x90\xe6\x82\xf0"
    "\x95\xcf\x8dX\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81"
    "B\n";
inline constexpr std::string_view kCreationFailed = "\x8d\xec\x90\xac\x8e\xb8\x94s";  // 作成失敗
// USBドライバを認識できません。\r\nドライバをインストールして下さい。\n
inline constexpr std::string_view kDriverNotRecognised =
    "USB\x83h\x83\x89\x83"
    "C\x83o\x82\xf0\x94"
    "F\x8e\xaf\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82"
    "\xf1\x81"
    "B\r\n\x83h\x83\x89\x83"
    "C\x83o\x82\xf0\x83"
    "C\x83\x93\x83X\x83g\x81[\x83\x8b"
    "\x82\xb5\x82\xc4\x89\xba\x82\xb3\x82\xa2\x81"
    "B\n";
inline constexpr std::string_view kCannotCommunicate =  // 計測器と通信できません。
    "\x8cv\x91\xaa\x8a\xed\x82\xc6\x92\xca\x90M\x82\xc5\x82\xab\x82\xdc\x82\xb9\x82\xf1\x81"
    "B";
inline constexpr std::string_view kCommunicating =
    "\x92\xca\x90M\x92\x86\x81"
    "c";                                       // 通信中…
inline constexpr std::string_view kFinished =  // 終了しました
    "\x8fI\x97\xb9\x82\xb5\x82\xdc\x82\xb5\x82\xbd";
inline constexpr std::string_view kSendError = "\x91\x97\x90M\x83G\x83\x89\x81[";  // 送信エラー
inline constexpr std::string_view kEndCommandCame =  // ENDコマンドが入りました。
    "END\x83R\x83}\x83\x93\x83h\x82\xaa\x93\xfc\x82\xe8\x82\xdc\x82\xb5\x82\xbd\x81"
    "B";
inline constexpr std::string_view kNoData =  // データがありません。
    "\x83"
    "f\x81[\x83^\x82\xaa\x82\xa0\x82\xe8\x82\xdc\x82\xb9\x82\xf1\x81"
    "B";
inline constexpr std::string_view kDataCorruptedMessage =  // 受信データ破損しています。
    "\x8e\xf3\x90M\x83"
    "f\x81[\x83^\x94j\x91\xb9\x82\xb5\x82\xc4\x82\xa2\x82\xdc\x82\xb7\x81"
    "B";
inline constexpr std::string_view kDataCorrupted =
    "\x83"
    "f\x81[\x83^\x94j\x91\xb9";  // データ破損

}  // namespace kvx::texts

#endif  // KVX_PROGRAM_TEXTS_H
