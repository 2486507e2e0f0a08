// The plan of repairing garbled file and folder names: what to look at, how each folder's names
// read, and which repaired names are free.
#include <QStringList>
#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <unordered_set>

#include "core/plans/Plans.h"
#include "core/text/Rules.h"
#include "core/utils/Tr.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"

namespace core {
namespace {

// `path` without the "/" at its end (the root stays "/").
std::string WithoutSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string WithSlash(const std::string& path) {
  return path.empty() ? std::string("./") : path.back() == '/' ? path : path + '/';
}

// The real path of a folder, ending in "/"; empty when it cannot be resolved.
std::string RealFolder(const std::string& folder) {
  std::string real = platform::RealPath(folder.empty() ? std::string(".") : folder);
  if (!real.empty() && real.back() != '/') real += '/';
  return real;
}

// One name to look at.
struct Item {
  std::string folder;      // as given or walked, ending in "/"
  std::string realFolder;  // its real path
  std::string name;
  std::string group;  // the names read together: a folder's real path
  bool isFolder = false;
};

// Gathers the items of the targets, each real path once.
class Gatherer {
 public:
  std::vector<Item> items;

  void Add(const std::string& folder, const std::string& realFolder, const std::string& name,
           bool isFolder, const std::string& group) {
    if (!platform::IsPlainName(name) || !seen_.insert(realFolder + name).second) return;
    items.push_back({folder, realFolder, name, group, isFolder});
  }

  // The entries of `folder` (given, real), and with `deep` those of every folder below it.
  void Walk(const std::string& folder, const std::string& real, bool deep) {
    if (!walked_.insert(real).second) return;
    const platform::FolderEntries entries = platform::ListEntries(folder);
    for (const std::string& name : entries.files) {
      listed_.insert(real + name);
      Add(folder, real, name, false, real);
    }
    for (const std::string& name : entries.folders) {
      listed_.insert(real + name);
      if (platform::StatPath(real + name, false).link) continue;
      Add(folder, real, name, true, real);
      if (deep) Walk(folder + name + '/', real + name + '/', true);
    }
  }

  // True when something has the name `path` (a folder's real path and a name): a walked folder's
  // listing tells, for the others the disk is asked.
  bool Exists(const std::string& path) const {
    const size_t slash = path.rfind('/');
    if (walked_.count(path.substr(0, slash + 1)) != 0) return listed_.count(path) != 0;
    return platform::StatPath(path, false).exists;
  }

 private:
  std::unordered_set<std::string> seen_, walked_, listed_;
};

// Where the name of `path` lies: its folder as given and as real path, and the name.
bool SplitPath(const std::string& path, std::string& folder, std::string& real, std::string& name) {
  const std::string bare = WithoutSlash(path);
  const size_t slash = bare.rfind('/');
  folder = slash == std::string::npos ? std::string() : bare.substr(0, slash + 1);
  name = slash == std::string::npos ? bare : bare.substr(slash + 1);
  if (!platform::IsPlainName(name)) return false;
  real = RealFolder(folder);
  return !real.empty();
}

// The readings of an ambiguous name, for a person: "GBK「周杰伦」或 Big5「笆筿瑈」".
QString ChoicesText(const NameEntry& e) {
  QStringList parts;
  for (const auto& [encoding, text] : e.choices) {
    parts << Core::tr("%1「%2」").arg(QString::fromLatin1(legacy::NameOf(encoding)), text);
  }
  return parts.join(Core::tr(" 或 "));
}

// Each entry's repaired name free or not, in the order the renames run; `exists` tells whether
// something has a name now.
void SettleConflicts(NamePlan& plan, const std::function<bool(const std::string&)>& exists) {
  std::map<std::string, size_t> given;   // a path -> the entry that is given it
  std::set<std::string> freed;           // paths renamed away by an earlier entry
  std::map<std::string, size_t> holder;  // the path of an entry still to be renamed -> the entry
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    const NameEntry& e = plan.entries[i];
    if (!e.newName.empty()) holder[e.realFolder + e.name] = i;
  }
  for (size_t i = 0; i < plan.entries.size(); ++i) {
    NameEntry& e = plan.entries[i];
    if (e.newName.empty() ||
        (e.status != NameStatus::kRepair && e.status != NameStatus::kConflict)) {
      continue;
    }
    e.status = NameStatus::kRepair;
    e.reason.clear();
    const std::string target = e.realFolder + e.newName;
    auto other = given.find(target);
    auto held = holder.find(target);
    if (other != given.end()) {
      e.status = NameStatus::kConflict;
      e.reason =
          Core::tr("与“%1”修复后的名称相同").arg(ShownAsIs(plan.entries[other->second].name));
    } else if (!freed.count(target) && exists(target)) {
      e.status = NameStatus::kConflict;
      e.reason = held != holder.end() && held->second > i
                     ? Core::tr("已有同名的文件或文件夹，它在此之后才改名")
                     : Core::tr("已有同名的文件或文件夹");
    } else {
      given[target] = i;
      freed.insert(e.realFolder + e.name);
    }
  }
}

QString NeedsALook(const NameEntry& e) {
  return Core::tr("需要确认：可能是 %1").arg(ChoicesText(e));
}

}  // namespace

NameTargets NameTargetsOf(const std::vector<std::string>& paths, bool recursive) {
  NameTargets targets;
  targets.recursive = recursive;
  for (const std::string& given : paths) {
    const std::string path = platform::GenericPath(given);
    const std::string bare = WithoutSlash(path);
    const std::string leaf = bare.substr(bare.rfind('/') + 1);
    if (platform::IsPlainName(leaf)) targets.paths.push_back(bare);
    if (platform::StatPath(path, true).folder) targets.folders.push_back(WithSlash(path));
  }
  return targets;
}

NameTargets NameTargetsOfFiles(const std::vector<std::string>& files) {
  NameTargets targets;
  std::map<std::string, platform::FolderEntries> listed;
  for (const std::string& file : files) {
    targets.paths.push_back(file);
    const std::string folder = rules::NativeFolderOf(file);
    const std::string name = rules::NativeFileNameOf(file);
    if (!folder.empty()) targets.paths.push_back(WithoutSlash(folder));
    // The files that share its stem: a cover or lyrics named after the song.
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) continue;
    const std::string stem = name.substr(0, dot + 1);
    auto it = listed.find(folder);
    if (it == listed.end()) it = listed.emplace(folder, platform::ListEntries(folder)).first;
    for (const std::string& other : it->second.files) {
      if (other != name && other.compare(0, stem.size(), stem) == 0) {
        targets.paths.push_back(folder + other);
      }
    }
  }
  return targets;
}

int NamePlan::Count(NameStatus status) const {
  int n = 0;
  for (const auto& e : entries) n += e.status == status;
  return n;
}

NamePlan PlanFixNames(const NameTargets& targets, std::optional<legacy::Encoding> forced) {
  Gatherer gather;
  for (const std::string& path : targets.paths) {
    std::string folder, real, name;
    if (!SplitPath(path, folder, real, name)) continue;
    const platform::EntryInfo info = platform::StatPath(real + name, false);
    if (!info.exists || info.link) continue;
    // A folder reads its name with its contents; a file with the others of its folder.
    gather.Add(folder, real, name, info.folder, info.folder ? real + name + '/' : real);
  }
  for (const std::string& folder : targets.folders) {
    const std::string real = RealFolder(folder);
    if (!real.empty()) gather.Walk(WithSlash(folder), real, targets.recursive);
  }

  NamePlan plan;
  plan.looked = static_cast<int>(gather.items.size());
  std::map<std::string, std::vector<size_t>> groups;
  for (size_t i = 0; i < gather.items.size(); ++i) groups[gather.items[i].group].push_back(i);
  for (const auto& [group, members] : groups) {
    std::vector<std::string> names;
    for (size_t i : members) names.push_back(gather.items[i].name);
    // The folder's own name came with its contents: it helps decide theirs.
    std::vector<std::string> context;
    const std::string bare = WithoutSlash(group);
    const std::string own = bare.substr(bare.rfind('/') + 1);
    if (std::find(names.begin(), names.end(), own) == names.end()) context.push_back(own);
    const std::vector<legacy::NameReading> readings =
        legacy::ReadNames(names, forced, platform::kNamesAreBytes, context);
    for (size_t m = 0; m < members.size(); ++m) {
      const legacy::NameReading& r = readings[m];
      if (r.kind == legacy::NameReading::Kind::kFine) continue;
      const Item& item = gather.items[members[m]];
      NameEntry e;
      e.folder = item.folder;
      e.realFolder = item.realFolder;
      e.name = item.name;
      e.isFolder = item.isFolder;
      e.form = r.form;
      e.encoding = r.encoding;
      e.choices = r.choices;
      const platform::EntryInfo info = platform::StatPath(item.realFolder + item.name, false);
      if (!info.exists || info.link) continue;  // a link keeps its name: it is not what it leads to
      e.device = info.device;
      e.inode = info.inode;
      e.size = info.size;
      if (r.kind == legacy::NameReading::Kind::kAmbiguous) {
        e.status = NameStatus::kAmbiguous;
        e.reason = NeedsALook(e);
      } else if (r.kind == legacy::NameReading::Kind::kUndecodable) {
        e.status = NameStatus::kUndecodable;
        e.reason = Core::tr("无法识别编码");
      } else {
        e.newName = rules::NativePath(r.text);
        if (e.newName.size() > 255) {
          e.status = NameStatus::kRefused;
          e.reason = Core::tr("修复后的名称超过255字节");
        }
      }
      plan.entries.push_back(std::move(e));
    }
  }
  // Deeper paths first: a folder's contents are renamed while the folder keeps its name.
  auto depth = [](const NameEntry& e) {
    return std::count(e.realFolder.begin(), e.realFolder.end(), '/');
  };
  std::vector<std::pair<long, size_t>> order;
  for (size_t i = 0; i < plan.entries.size(); ++i) order.emplace_back(-depth(plan.entries[i]), i);
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<NameEntry> sorted;
  sorted.reserve(order.size());
  for (const auto& [d, i] : order) sorted.push_back(std::move(plan.entries[i]));
  plan.entries = std::move(sorted);
  SettleConflicts(plan, [&](const std::string& path) { return gather.Exists(path); });
  return plan;
}

void PickReading(NamePlan& plan, size_t i, size_t choice) {
  NameEntry& e = plan.entries.at(i);
  if (choice >= e.choices.size()) return;
  e.encoding = e.choices[choice].first;
  e.newName = rules::NativePath(e.choices[choice].second);
  e.status = e.newName.size() > 255 ? NameStatus::kRefused : NameStatus::kRepair;
  e.reason = e.status == NameStatus::kRefused ? Core::tr("修复后的名称超过255字节") : QString();
  SettleConflicts(plan,
                  [](const std::string& path) { return platform::StatPath(path, false).exists; });
}

QString ShownAsIs(const std::string& name) {
  // Each name between slashes on its own: as text when its bytes are UTF-8, else every byte
  // beyond ASCII as "\xNN".
  QString out;
  size_t from = 0;
  while (from <= name.size()) {
    size_t slash = name.find('/', from);
    if (slash == std::string::npos) slash = name.size();
    const std::string part = name.substr(from, slash - from);
    if (rules::IsUtf8(part)) {
      out += QString::fromStdString(part);
    } else {
      for (char c : part) {
        const auto b = static_cast<unsigned char>(c);
        out += b < 0x80 ? QString(QLatin1Char(c))
                        : QStringLiteral("\\x%1").arg(b, 2, 16, QLatin1Char('0'));
      }
    }
    if (slash < name.size()) out += QLatin1Char('/');
    from = slash + 1;
  }
  return out;
}

QString EncodingLabel(const NameEntry& entry) {
  const QString encoding = QString::fromLatin1(legacy::NameOf(entry.encoding));
  if (entry.form == legacy::NameForm::kBytes) return encoding;
  return Core::tr("%1，经 %2 乱码").arg(encoding, QString::fromLatin1(legacy::NameOf(entry.form)));
}

QString SummarizeNamePlan(const NamePlan& plan) {
  return Core::tr("共 %1 个乱码名称：修复 %2，需要确认 %3，冲突 %4，无法识别 %5")
      .arg(plan.entries.size())
      .arg(plan.Count(NameStatus::kRepair))
      .arg(plan.Count(NameStatus::kAmbiguous))
      .arg(plan.Count(NameStatus::kConflict) + plan.Count(NameStatus::kRefused))
      .arg(plan.Count(NameStatus::kUndecodable));
}

QString DescribeNamePlan(const NamePlan& plan, int maxLines) {
  QStringList lines{SummarizeNamePlan(plan)};
  auto old = [](const NameEntry& e) {
    return ShownAsIs(e.folder) + ShownAsIs(e.name) + (e.isFolder ? QStringLiteral("/") : QString());
  };
  const std::pair<NameStatus, QString> problems[] = {{NameStatus::kConflict, Core::tr("冲突")},
                                                     {NameStatus::kRefused, Core::tr("拒绝")},
                                                     {NameStatus::kAmbiguous, Core::tr("需要确认")},
                                                     {NameStatus::kUndecodable, Core::tr("跳过")}};
  for (const auto& [status, label] : problems) {
    for (const NameEntry& e : plan.entries) {
      if (e.status != status) continue;
      const QString target =
          e.newName.empty() ? QString() : QStringLiteral(" → ") + QString::fromStdString(e.newName);
      lines << Core::tr("[%1] %2%3：%4").arg(label, old(e), target, e.reason);
    }
  }
  int listed = 0, more = 0;
  for (const NameEntry& e : plan.entries) {
    if (e.status != NameStatus::kRepair) continue;
    if (listed++ >= maxLines) {
      ++more;
      continue;
    }
    lines << Core::tr("%1 → %2（%3）")
                 .arg(old(e), QString::fromStdString(e.newName), EncodingLabel(e));
  }
  if (more > 0) lines << Core::tr("……另有 %1 个名称未列出").arg(more);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace core
