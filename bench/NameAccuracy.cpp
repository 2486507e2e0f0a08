// velomi_bench_names: how many garbled file and folder names the repair gets right with its
// defaults, per script and form, and how long planning 10,000 names takes against listing them.
//
// Builds a library in a temporary folder: for each script (GBK, Big5, Shift-JIS) and each form
// (the bytes themselves; mojibake read as CP1252, as Latin-1, as CP437) albums as a Windows disk
// or archive leaves them: a folder "artist - album" with its songs "NN title.mp3", a lyrics file
// per song, the album's cue sheet and a cover; beside them names that read right (Chinese and
// Japanese in UTF-8, "Beyoncé - Halo.mp3", Western accents, ASCII). Plans the repair of the whole
// tree, judges each garbled name (repaired to the name it was made from, left as needing a look,
// in conflict, or wrong) and each correct one (never in the plan), then carries the plan out and
// undoes it, and checks that every name came back byte for byte with every file's bytes.
// Then the timing: a tree of 10,000 garbled names (500 folders of 20), the plan against a walk
// that lists every folder and looks at every entry (lstat), as a file manager or `ls -l` does, in
// turns, median of the rounds.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QStringDecoder>
#include <QStringEncoder>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "core/Batch.h"
#include "core/journal/Journal.h"
#include "core/plans/Plans.h"

namespace {

namespace fs = std::filesystem;

struct Script {
  const char* name;
  const char* codec;
  std::vector<const char*> artists, albums, titles;
};

const Script kScripts[] = {
    {"GBK",
     "GBK",
     {"周杰伦", "王菲", "林俊杰", "薛之谦", "朴树", "李健", "许嵩", "汪峰", "张靓颖", "赵雷"},
     {"七里香", "叶惠美", "范特西", "寓言", "我去二〇〇〇年", "似水流年", "自定义",
      "信仰在空中飘扬", "笑忘书", "无法长大"},
     {"七里香",       "晴天",   "稻香",   "夜曲",     "青花瓷",     "简单爱", "东风破",
      "说好的幸福呢", "菊花台", "老男孩", "平凡之路", "演员",       "成都",   "那些年",
      "匆匆那年",     "后来",   "红豆",   "传奇",     "突然好想你", "倔强",   "知足",
      "丑八怪",       "水手",   "南山南", "父亲"}},
    {"Big5",
     "Big5",
     {"張學友", "劉德華", "黎明", "郭富城", "陳奕迅", "蘇打綠", "孫燕姿", "蔡依林", "張國榮",
      "羅大佑"},
     {"吻別", "真情流露", "忘記你我做不到", "愛的呼喚", "十年", "小情歌", "遇見", "看我七十二變",
      "寵愛", "之乎者也"},
     {"愛你",     "情非得已", "童話",       "至少還有你", "真的愛你", "光輝歲月", "千千闕歌",
      "一生何求", "喜歡你",   "講不出再見", "紅日",       "富士山下", "淘汰",     "浮誇",
      "好久不見", "小情歌",   "遇見",       "倒數",       "說愛你",   "吻別",     "每天愛你多一些",
      "情書",     "聽海",     "海闊天空",   "鄉愁四韻"}},
    {"Shift-JIS",
     "Shift_JIS",
     {"松任谷由実", "いきものがかり", "福山雅治", "スピッツ", "一青窈", "中島みゆき", "米津玄師",
      "あいみょん", "宇多田ヒカル", "サザンオールスターズ"},
     {"日本の恋と、ユーミンと。", "いきものばかり", "魂リク", "フェイクファー", "月天心", "大吟醸",
      "ＢＯＯＴＬＥＧ", "瞬間的シックスセンス", "初恋", "海のＹｅａｈ！！"},
     {"春よ、来い",
      "ありがとう",
      "世界に一つだけの花",
      "桜坂",
      "涙そうそう",
      "チェリー",
      "ロビンソン",
      "小さな恋のうた",
      "天体観測",
      "栄光の架橋",
      "ハナミズキ",
      "糸",
      "島唄",
      "紅蓮華",
      "怪物",
      "白日",
      "マリーゴールド",
      "レモン",
      "夜空ノムコウ",
      "赤いスイートピー",
      "ファーストラヴ",
      "桜流し",
      "時代",
      "化粧",
      "地上の星"}},
};

struct Form {
  const char* name;
  const char* reader;  // what read the bytes; nullptr: the bytes themselves
};
const Form kForms[] = {
    {"bytes", nullptr}, {"CP1252", "windows-1252"}, {"Latin-1", "ISO-8859-1"}, {"CP437", "IBM437"}};

const char* const kCorrect[] = {"Beyoncé - Halo.mp3",
                                "周杰伦 - 七里香",
                                "邓丽君 - 月亮代表我的心.mp3",
                                "宇多田ヒカル - 桜流し.mp3",
                                "Björk - Jóga.mp3",
                                "Mötley Crüe - Dr. Feelgood.mp3",
                                "Sigur Rós - Hoppípolla.mp3",
                                "Café del Mar.mp3",
                                "cover.jpg",
                                "01 Track.mp3"};

std::string Encode(const char* codec, const QString& text) {
  QStringEncoder encoder(codec);
  return QByteArray(encoder.encode(text)).toStdString();
}

// A name as the form leaves it on the disk.
std::string Garble(const std::string& bytes, const Form& form) {
  if (form.reader == nullptr) return bytes;
  QStringDecoder decoder(form.reader);
  return QString(decoder.decode(QByteArray::fromStdString(bytes))).toStdString();
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(fs::path(path), std::ios::binary) << bytes;
}

// Every entry below `root` with what it holds ("/" for a folder).
std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> tree;
  for (const auto& e : fs::recursive_directory_iterator(fs::path(root))) {
    std::string bytes = "/";
    if (!e.is_directory()) {
      std::ifstream in(e.path(), std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    tree[e.path().native().substr(root.size())] = bytes;
  }
  return tree;
}

struct Tally {
  int names = 0, repaired = 0, look = 0, conflict = 0, wrong = 0, left = 0;
};

double Ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Lists every folder below `folder` and looks at each entry, as a file manager does; gives the
// number of entries.
size_t Walk(const std::string& folder) {
  size_t n = 0;
  DIR* d = ::opendir(folder.c_str());
  if (d == nullptr) return 0;
  while (struct dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st;
    if (::lstat((folder + name).c_str(), &st) != 0) continue;
    ++n;
    if (S_ISDIR(st.st_mode)) n += Walk(folder + name + "/");
  }
  ::closedir(d);
  return n;
}

}  // namespace

int main(int argc, char** argv) {
  const int albums = argc > 1 ? std::atoi(argv[1]) : 10;  // per script and form
  const bool verbose = std::getenv("VELOMI_VERBOSE") != nullptr;
  char base[] = "/tmp/velomi-names-XXXXXX";
  if (::mkdtemp(base) == nullptr) return 2;
  const std::string root = std::string(base) + "/";
  ::setenv("XDG_STATE_HOME", (root + ".state").c_str(), 1);
  const std::string library = root + "library/";
  fs::create_directories(fs::path(library));

  // The library, and the name each garbled entry was made from.
  std::map<std::string, std::pair<std::string, std::string>> expected;  // path -> name, kind
  for (const Script& s : kScripts) {
    for (const Form& f : kForms) {
      const std::string kind = std::string(s.name) + " / " + f.name;
      const std::string shelf = library + s.name + "-" + f.name + "/";
      fs::create_directories(fs::path(shelf));
      for (int a = 0; a < albums; ++a) {
        const QString artist =
            QString::fromUtf8(s.artists[static_cast<size_t>(a) % s.artists.size()]);
        const QString album = QString::fromUtf8(s.albums[static_cast<size_t>(a) % s.albums.size()]);
        const QString folderName = artist + QStringLiteral(" - ") + album;
        const std::string folder = shelf + Garble(Encode(s.codec, folderName), f);
        if (fs::exists(fs::path(folder))) continue;
        fs::create_directory(fs::path(folder));
        expected[folder] = {folderName.toStdString(), kind};
        auto add = [&](const QString& name, const std::string& content) {
          const std::string path = folder + "/" + Garble(Encode(s.codec, name), f);
          if (expected.count(path)) return;
          WriteFile(path, content);
          expected[path] = {name.toStdString(), kind};
        };
        for (int t = 0; t < 10; ++t) {
          const QString title =
              QString::fromUtf8(s.titles[static_cast<size_t>(a * 7 + t * 3) % s.titles.size()]);
          const QString number = QStringLiteral("%1").arg(t + 1, 2, 10, QLatin1Char('0'));
          add(number + QLatin1Char(' ') + title + QStringLiteral(".mp3"),
              "\xFF\xFB" + title.toStdString());
          add(title + QStringLiteral(".lrc"), "[00:00] " + title.toStdString());
        }
        add(album + QStringLiteral(".cue"), "FILE");
        WriteFile(folder + "/cover.jpg", "JPEG");
      }
    }
  }
  for (const char* name : kCorrect) {
    const std::string path = library + name;
    if (std::string(name).find('.') == std::string::npos) {
      fs::create_directory(fs::path(path));
    } else {
      WriteFile(path, "\xFF\xFB");
    }
  }

  const auto before = Snapshot(library);
  const core::NamePlan plan = core::PlanFixNames(core::NameTargetsOf({library}, true));
  std::map<std::string, Tally> tallies;
  for (const auto& [path, made] : expected) ++tallies[made.second].names;
  int correctTouched = 0;
  for (const core::NameEntry& e : plan.entries) {
    const std::string path = e.folder + e.name;
    auto it = expected.find(path);
    if (it == expected.end()) {
      ++correctTouched;
      std::printf("touched a correct name: %s\n", path.c_str());
      continue;
    }
    Tally& t = tallies[it->second.second];
    if (e.status == core::NameStatus::kRepair && e.newName == it->second.first) {
      ++t.repaired;
    } else if (e.status == core::NameStatus::kRepair) {
      ++t.wrong;
      if (verbose) std::printf("wrong: %s -> %s\n", it->second.first.c_str(), e.newName.c_str());
    } else if (e.status == core::NameStatus::kAmbiguous) {
      ++t.look;
      if (verbose) std::printf("look: %s\n", it->second.first.c_str());
    } else if (e.status == core::NameStatus::kConflict) {
      ++t.conflict;
    } else {
      ++t.left;
    }
  }
  for (const auto& [path, made] : expected) {
    bool planned = false;
    for (const core::NameEntry& e : plan.entries) planned = planned || e.folder + e.name == path;
    if (!planned) {
      ++tallies[made.second].left;
      if (verbose) std::printf("not seen as garbled: %s\n", made.first.c_str());
    }
  }
  std::printf(
      "| script / form | names | repaired | needs a look | conflict | wrong | left | repaired %% "
      "|\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  Tally all;
  for (const Script& s : kScripts) {
    for (const Form& f : kForms) {
      const std::string kind = std::string(s.name) + " / " + f.name;
      const Tally& t = tallies[kind];
      std::printf("| %s | %d | %d | %d | %d | %d | %d | %.1f |\n", kind.c_str(), t.names,
                  t.repaired, t.look, t.conflict, t.wrong, t.left,
                  t.names ? 100.0 * t.repaired / t.names : 0.0);
      all.names += t.names;
      all.repaired += t.repaired;
      all.look += t.look;
      all.conflict += t.conflict;
      all.wrong += t.wrong;
      all.left += t.left;
    }
  }
  std::printf("| all | %d | %d | %d | %d | %d | %d | %.1f |\n", all.names, all.repaired, all.look,
              all.conflict, all.wrong, all.left, 100.0 * all.repaired / all.names);
  std::printf("Correct names (%zu) in the plan: %d\n", std::size(kCorrect), correctTouched);

  // Carried out and undone: every name back byte for byte, every file with its bytes.
  core::Journal journal;
  core::ApplyOptions options;
  options.journal = &journal;
  const core::ApplyReport report = core::ApplyFixNames(plan, options);
  int done = 0;
  for (const core::EntryResult& r : report.results) done += r.outcome == core::Outcome::kDone;
  const auto after = Snapshot(library);
  const core::UndoReport undo = core::UndoLast(journal);
  int undone = 0;
  for (const core::UndoEntry& e : undo.entries) undone += e.outcome == core::Outcome::kDone;
  const bool same = Snapshot(library) == before;
  std::printf(
      "Applied: %d renamed, %zu entries after (%zu before); undone: %d; byte for byte: %s\n", done,
      after.size(), before.size(), undone, same ? "yes" : "NO");

  // Timing: 10,000 garbled names.
  const std::string big = root + "big/";
  fs::create_directories(fs::path(big));
  const Script& gbk = kScripts[0];
  for (int a = 0; a < 500; ++a) {
    const std::string folder =
        big + Encode("GBK", QString::fromUtf8(gbk.artists[a % 10]) + QStringLiteral(" %1").arg(a)) +
        "/";
    fs::create_directory(fs::path(folder));
    for (int t = 0; t < 19; ++t) {
      WriteFile(folder + Encode("GBK", QStringLiteral("%1 ").arg(t + 1) +
                                           QString::fromUtf8(gbk.titles[(a + t) % 25]) +
                                           QStringLiteral(".mp3")),
                "x");
    }
  }
  std::vector<double> plans, walks;
  size_t planned = 0, listed = 0;
  for (int round = 0; round < 11; ++round) {
    auto t0 = std::chrono::steady_clock::now();
    listed = Walk(big);
    auto t1 = std::chrono::steady_clock::now();
    planned = core::PlanFixNames(core::NameTargetsOf({big}, true)).entries.size();
    auto t2 = std::chrono::steady_clock::now();
    if (round == 0) continue;  // warms the caches
    walks.push_back(Ms(t1 - t0));
    plans.push_back(Ms(t2 - t1));
  }
  std::sort(plans.begin(), plans.end());
  std::sort(walks.begin(), walks.end());
  const double plan50 = plans[plans.size() / 2], walk50 = walks[walks.size() / 2];
  std::printf(
      "Plan of %zu garbled names (%zu entries): %.1f ms; listing them: %.1f ms; %.2fx "
      "(goal < 2x: %s)\n",
      planned, listed, plan50, walk50, plan50 / walk50, plan50 < 2 * walk50 ? "met" : "MISSED");
  fs::remove_all(fs::path(root));
  return correctTouched == 0 && same ? 0 : 1;
}
