#include "data_set.h"

#include <array>
#include <string_view>

namespace kelconv::bench {
namespace {

// splitmix64: small, fast and the same everywhere, unlike the standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}

  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  // A number in [0, n).
  std::size_t Below(std::size_t n) { return static_cast<std::size_t>(Next() % n); }
  // True `percent` times in a hundred.
  bool Chance(std::size_t percent) { return Below(100) < percent; }
  template <typename T, std::size_t N>
  const T& Pick(const std::array<T, N>& items) {
    return items[Below(N)];
  }

 private:
  std::uint64_t state_;
};

// Words in code page 932; several hold a second byte of 0x5C, as 表 and ソ do.
constexpr std::array<std::string_view, 24> kWords = {
    "\x83\x81\x83\x82\x92\xA0",                                          // メモ帳
    "\x93\x64\x91\xEC",                                                  // 電卓
    "\x95\x5C\x8C\x76\x8E\x5A\x83\x5C\x83\x74\x83\x67",                  // 表計算ソフト
    "\x83\x79\x83\x43\x83\x93\x83\x67",                                  // ペイント
    "\x83\x52\x83\x7D\x83\x93\x83\x68",                                  // コマンド
    "\x83\x47\x83\x4E\x83\x58\x83\x76\x83\x8D\x81\x5B\x83\x89\x81\x5B",  // エクスプローラー
    "\x83\x65\x83\x4C\x83\x58\x83\x67\x83\x47\x83\x66\x83\x42\x83\x5E",  // テキストエディタ
    "\x8D\xB7\x95\xAA",                                                  // 差分
    "\x83\x5C\x83\x8A\x83\x65\x83\x42\x83\x41",                          // ソリティア
    "\x89\xE6\x91\x9C\x83\x72\x83\x85\x81\x5B\x83\x41",                  // 画像ビューア
    "\x89\xB9\x8A\x79\x83\x76\x83\x8C\x81\x5B\x83\x84\x81\x5B",          // 音楽プレーヤー
    "\x8A\x4A\x94\xAD",                                                  // 開発
    "\x90\xDD\x92\xE8",                                                  // 設定
    "\x97\x5C\x92\xE8\x95\x5C",                                          // 予定表
    "\x8A\xC7\x97\x9D\x8E\xD2",                                          // 管理者
    "\x93\xFA\x96\x7B\x8C\xEA\x93\xFC\x97\xCD",                          // 日本語入力
    "\x83\x68\x83\x4C\x83\x85\x83\x81\x83\x93\x83\x67",                  // ドキュメント
    "\x95\x5C\x8E\xA6",                                                  // 表示
    "\x90\x5C\x90\xBF\x8F\x91",                                          // 申請書
    "Editor",
    "Mail",
    "Browser",
    "Terminal",
    "Viewer",
};

// Page names in code page 932.
constexpr std::array<std::string_view, 6> kPageNames = {
    "\x83\x81\x83\x43\x83\x93",  // メイン
    "\x83\x63\x81\x5B\x83\x8B",  // ツール
    "\x83\x51\x81\x5B\x83\x80",  // ゲーム
    "\x8E\x64\x8E\x96",          // 仕事
    "\x8A\x4A\x94\xAD",          // 開発
    "\x90\xDD\x92\xE8",          // 設定
};

constexpr std::array<std::string_view, 8> kFolders = {
    "C:\\Windows",
    "C:\\Windows\\System32",
    "C:\\Program Files\\Office",
    "C:\\Program Files (x86)\\Tools",
    "D:\\Tools",
    "D:\\Work\\\x8AJ\x94\xAD",  // D:\Work\開発
    "C:\\Users\\kel\\Desktop",
    "E:\\Games",
};

constexpr std::array<std::string_view, 8> kArguments = {
    "/n", "-n \"%1\"", "/k echo \"hello\"", "--profile=work",
    "%1", "/s /q",     "-new-window",       "/e,C:\\",
};

bool NeedsQuotes(std::string_view field) {
  if (field.empty()) return true;
  for (const char c : field) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || c == ',' || c == '"') return true;
  }
  return false;
}

void AppendQuoted(std::string_view field, std::string& out) {
  out += '"';
  for (const char c : field) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

// A name of one or two words, sometimes with a number or a blank.
std::string MakeName(Random& random) {
  std::string name(random.Pick(kWords));
  if (random.Chance(30)) {
    if (random.Chance(50)) name += ' ';
    name += random.Pick(kWords);
  }
  if (random.Chance(20)) name += std::to_string(random.Below(100));
  if (random.Chance(5)) name = "\"" + name + "\"";
  return name;
}

std::string MakeProgram(Random& random, std::string_view name) {
  std::string path(random.Pick(kFolders));
  path += '\\';
  path += random.Chance(50) ? std::string(name.substr(0, name.find(' '))) : "app";
  path += random.Chance(90) ? ".exe" : ".bat";
  return path;
}

// One entry line: usually empty (a free slot), otherwise name, program and sometimes the
// arguments and the working folder, written in one of the styles that files in use show.
std::string MakeEntryLine(Random& random) {
  if (random.Chance(53)) return random.Chance(97) ? "" : " \t";
  const std::string name = MakeName(random);
  std::array<std::string, 4> fields = {name, MakeProgram(random, name), "", ""};
  std::size_t count = 2;
  if (random.Chance(40)) {
    fields[2] = random.Chance(70) ? std::string(random.Pick(kArguments)) : "";
    count = 3;
    if (random.Chance(50)) {
      fields[3] = random.Chance(60) ? std::string(random.Pick(kFolders)) : "";
      count = 4;
    }
  }

  std::string line;
  const std::size_t style = random.Below(10);
  if (style < 5) {
    // Every field quoted, as a launcher writes them.
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) line += ',';
      AppendQuoted(fields[i], line);
    }
  } else {
    // Quoted only where needed, empty fields as bare commas; by hand, with blanks.
    const std::string_view separator = style < 8 ? "," : (style == 8 ? " , " : "\t");
    for (std::size_t i = 0; i < count; ++i) {
      if (i > 0) line += separator;
      if (fields[i].empty() && i > 0 && separator == ",") continue;
      if (NeedsQuotes(fields[i])) {
        AppendQuoted(fields[i], line);
      } else {
        line += fields[i];
      }
    }
  }
  return line;
}

std::string MakePageLine(Random& random, std::int64_t page) {
  std::string line(random.Pick(kPageNames));
  line += ' ';
  line += std::to_string(page % 100000);
  if (random.Chance(3)) line += ",\"x\"";
  return line;
}

// Appends `line` and a line end: mostly CR LF, sometimes a lone LF or a lone CR. A lone CR is
// never followed by an empty line that ends in LF, which would make one CR LF of the two.
class LineSink {
 public:
  LineSink(std::string& out, Random& random) : out_(out), random_(random) {}

  void Add(std::string_view line) {
    out_ += line;
    const std::size_t kind = random_.Below(100);
    if (kind < 90 || (line.empty() && last_was_cr_)) {
      out_ += "\r\n";
      last_was_cr_ = false;
    } else if (kind < 96) {
      out_ += '\n';
      last_was_cr_ = false;
    } else {
      out_ += '\r';
      last_was_cr_ = true;
    }
  }

 private:
  std::string& out_;
  Random& random_;
  bool last_was_cr_ = false;
};

}  // namespace

DataSet GenerateDataSet(std::int64_t page_count, std::uint64_t seed) {
  Random random(seed);
  DataSet set;
  set.list.reserve(static_cast<std::size_t>(page_count) * 250 + 100);
  set.pages.reserve(static_cast<std::size_t>(page_count) * 14);

  LineSink list(set.list, random);
  list.Add(
      "\"APP=Kelvado\",\"VER=1.00\",\"NAME=\x83\x81\x83"
      "C\x83\x93\"");
  for (std::int64_t line = 0; line < 10 * page_count; ++line) list.Add(MakeEntryLine(random));

  LineSink pages(set.pages, random);
  for (std::int64_t page = 0; page < page_count; ++page) pages.Add(MakePageLine(random, page));
  return set;
}

}  // namespace kelconv::bench
