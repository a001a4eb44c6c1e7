// The texts of the converter's message boxes, as code page 932 bytes (the readable text is in
// the comment beside each; tools/cp932_literal.py makes the bytes from it).
#ifndef KELCONV_APP_MESSAGES_H_
#define KELCONV_APP_MESSAGES_H_

#include <string_view>

namespace kelconv::messages {

// "Kelvado データーコンバーター v1.1"
inline constexpr std::string_view kCaption =
    "Kelvado \x83"
    "f\x81[\x83^\x81[\x83R\x83\x93\x83o\x81[\x83^\x81[ v1.1";

// Message 1: "データーファイル[" list file "]が見つからない為、終了します"
inline constexpr std::string_view kListMissingBefore =
    "\x83"
    "f\x81[\x83^\x81[\x83t\x83@\x83"
    "C\x83\x8B[";
inline constexpr std::string_view kMissingAfter =
    "]\x82\xAA\x8C\xA9\x82\xC2\x82\xA9\x82\xE7\x82\xC8\x82\xA2\x88\xD7\x81"
    "A\x8FI\x97\xB9\x82\xB5"
    "\x82\xDC\x82\xB7";

// Message 2: "該当アプリケーションのデーターファイルではない為、終了します"
inline constexpr std::string_view kForeignFile =
    "\x8AY\x93\x96\x83"
    "A\x83v\x83\x8A\x83P\x81[\x83V\x83\x87\x83\x93\x82\xCC\x83"
    "f\x81[\x83^"
    "\x81[\x83t\x83@\x83"
    "C\x83\x8B\x82\xC5\x82\xCD\x82\xC8\x82\xA2\x88\xD7\x81"
    "A\x8FI\x97\xB9"
    "\x82\xB5\x82\xDC\x82\xB7";

// Message 3: "データーファイルは最新バージョンの為、終了します" CR CR list file ": ver " version
inline constexpr std::string_view kAlreadyNewest =
    "\x83"
    "f\x81[\x83^\x81[\x83t\x83@\x83"
    "C\x83\x8B\x82\xCD\x8D\xC5\x90V\x83o\x81[\x83W\x83\x87"
    "\x83\x93\x82\xCC\x88\xD7\x81"
    "A\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB7";

// Message 4: "必要なデーターファイル[" page file "]が見つからない為、終了します"
inline constexpr std::string_view kPageMissingBefore =
    "\x95K\x97v\x82\xC8\x83"
    "f\x81[\x83^\x81[\x83t\x83@\x83"
    "C\x83\x8B[";

// Message 5: "データーファイルを最新のバージョンに変換しますか？" CR CR list file ": ver "
// version " -->> " "2.00"
inline constexpr std::string_view kConvertQuestion =
    "\x83"
    "f\x81[\x83^\x81[\x83t\x83@\x83"
    "C\x83\x8B\x82\xF0\x8D\xC5\x90V\x82\xCC\x83o\x81[\x83W"
    "\x83\x87\x83\x93\x82\xC9\x95\xCF\x8A\xB7\x82\xB5\x82\xDC\x82\xB7\x82\xA9\x81H";

// Message 6: "データー変換が終了しました"
inline constexpr std::string_view kConversionEnded =
    "\x83"
    "f\x81[\x83^\x81[\x95\xCF\x8A\xB7\x82\xAA\x8FI\x97\xB9\x82\xB5\x82\xDC\x82\xB5\x82\xBD";

inline constexpr std::string_view kVersionSeparator = ": ver ";
inline constexpr std::string_view kVersionArrow = " -->> ";

// The failure report: kind "がモジュール " module " の " place " で発生しました。" LF
// message, and "." unless the message ends in one.
inline constexpr std::string_view kReportCaption =  // "アプリケーション エラー"
    "\x83"
    "A\x83v\x83\x8A\x83P\x81[\x83V\x83\x87\x83\x93 \x83G\x83\x89\x81[";
inline constexpr std::string_view kReportModule =  // "がモジュール "
    "\x82\xAA\x83\x82\x83W\x83\x85\x81[\x83\x8B ";
inline constexpr std::string_view kReportAt = " \x82\xCC ";  // " の "
inline constexpr std::string_view kReportRaised =            // " で発生しました。"
    " \x82\xC5\x94\xAD\x90\xB6\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81"
    "B";

}  // namespace kelconv::messages

#endif  // KELCONV_APP_MESSAGES_H_
