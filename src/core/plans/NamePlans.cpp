// The plan of repairing garbled file and folder names: what to look at, how each folder's names
// read, and which repaired names are free.
#include <QStringList>
#include <algorithm>
#include <deque>
#include <limits>
#include <map>
#include <string_view>
#include <unordered_map>
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

// One folder the names lie in: as given or walked, and its real path; once walked, its listing.
struct Place {
  std::string folder;  // as given or walked, ending in "/"
  std::string real;    // its real path, ending in "/"
  bool walked = false;
  // Once walked, every entry's name, as listed (never changed afterwards: items point at them),
  // and the same names sorted by bytes.
  std::vector<std::string> listed;
  std::vector<std::string_view> sorted;
};

constexpr size_t kUnseen = std::numeric_limits<size_t>::max();

// One name to look at.
struct Item {
  size_t place = 0;                   // the folder it lies in
  const std::string* name = nullptr;  // in its folder's listing, or among the names given
  size_t seen = kUnseen;              // where the walk looked at it already (a folder), in `seen`
  size_t group = 0;                   // the names read together: a folder's names (a place)
  bool isFolder = false;
};

// Gathers the items of the targets, each real path once. Folders are kept once each, by their
// real path, and a name by its folder: ten thousand names hold five hundred folders' paths, not
// ten thousand.
class Gatherer {
 public:
  std::vector<Item> items;
  std::vector<Place> places;
  std::vector<platform::EntryInfo> seen;  // the folders the walk looked at

  // The place of the folder `folder` (as given), whose real path is `real`.
  size_t PlaceOf(const std::string& folder, const std::string& real) {
    auto [it, added] = placeAt_.emplace(real, places.size());
    if (added) places.push_back({folder, real, false, {}, {}});
    return it->second;
  }

  // A name given on its own: looked at once, whichever of its folder's walk and itself comes first.
  void AddGiven(size_t place, const std::string& name, bool isFolder, size_t group) {
    const Place& p = places[place];
    if (!platform::IsPlainName(name) || (p.walked && Listed(p, name)) ||
        !given_.insert(p.real + name).second) {
      return;
    }
    items.push_back({place, &givenNames_.emplace_back(name), kUnseen, group, isFolder});
  }

  // The entries of the place `at`, and with `deep` those of every folder below it.
  void Walk(size_t at, bool deep) {
    if (places[at].walked) return;
    places[at].walked = true;
    const std::string folder = places[at].folder, real = places[at].real;
    platform::FolderEntries entries = platform::ListEntries(folder);
    const size_t files = entries.files.size();
    std::vector<std::string> listed = std::move(entries.files);
    listed.insert(listed.end(), std::make_move_iterator(entries.folders.begin()),
                  std::make_move_iterator(entries.folders.end()));
    auto add = [&](const std::string& name, bool isFolder, size_t look) {
      if (!platform::IsPlainName(name) || (!given_.empty() && given_.count(real + name))) return;
      items.push_back({at, &name, look, at, isFolder});
    };
    for (size_t k = 0; k < files; ++k) add(listed[k], false, kUnseen);
    // A link to a folder is listed with the folders: its own name is not looked at, nor what it
    // leads to.
    platform::Folder open;
    const bool opened = files < listed.size() && open.Open(WithoutSlash(real));
    std::vector<size_t> below;
    for (size_t k = files; k < listed.size(); ++k) {
      const std::string& name = listed[k];
      const platform::EntryInfo info =
          opened ? open.Stat(name) : platform::StatPath(real + name, false);
      if (info.link) continue;
      seen.push_back(info);
      add(name, true, seen.size() - 1);
      if (deep) below.push_back(PlaceOf(folder + name + '/', real + name + '/'));
    }
    open.Close();
    // The listing's strings stay where they are from here on (a place that moves takes its
    // vector's storage along), for the items that point at them.
    places[at].sorted.assign(listed.begin(), listed.end());
    std::sort(places[at].sorted.begin(), places[at].sorted.end());
    places[at].listed = std::move(listed);
    for (size_t b : below) Walk(b, true);
  }

  // True when something has the name `name` in the folder whose real path is `real`: a walked
  // folder's listing tells, for the others the disk is asked.
  bool Exists(const std::string& real, const std::string& name) {
    // Asked folder by folder: the last folder is looked at first.
    if (asked_ >= places.size() || places[asked_].real != real) {
      auto it = placeAt_.find(real);
      asked_ = it != placeAt_.end() ? it->second : places.size();
    }
    if (asked_ != places.size() && places[asked_].walked) return Listed(places[asked_], name);
    return platform::StatPath(real + name, false).exists;
  }

 private:
  static bool Listed(const Place& p, std::string_view name) {
    return std::binary_search(p.sorted.begin(), p.sorted.end(), name);
  }

  std::unordered_map<std::string, size_t> placeAt_;    // a real path -> its place
  std::unordered_set<std::string> given_;              // the real paths of names given on their own
  std::deque<std::string> givenNames_;                 // their names, where their items point
  size_t asked_ = std::numeric_limits<size_t>::max();  // the place Exists was last asked of
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
// something has a name in a folder (its real path) now. A repaired name stays in the folder of
// the name it repairs, so each folder's entries are settled on their own, by name.
template <class Exists>
void SettleConflicts(NamePlan& plan, const Exists& exists) {
  // Each folder's entries in the plan's order; those of one folder mostly come together.
  std::unordered_map<std::string_view, size_t> folderAt;
  std::vector<std::vector<size_t>> folders;
  for (size_t i = 0, at = 0; i < plan.entries.size(); ++i) {
    const std::string& real = plan.entries[i].realFolder;
    if (i == 0 || real != plan.entries[i - 1].realFolder) {
      at = folderAt.emplace(real, folders.size()).first->second;
      if (at == folders.size()) folders.emplace_back();
    }
    folders[at].push_back(i);
  }
  constexpr size_t kNone = std::numeric_limits<size_t>::max();
  // Two small hash tables of a folder's members, remade for each folder in the same storage:
  // by name, and by the repaired names given so far. A slot holds a member's position plus one
  // (0: free), found by linear probing from the name's hash.
  std::vector<uint32_t> byName, byNew;
  std::vector<bool> gave;  // given its repaired name
  const std::hash<std::string_view> hash;
  for (const std::vector<size_t>& members : folders) {
    size_t mask = 7;
    while (mask + 1 < 2 * members.size()) mask = 2 * mask + 1;
    byName.assign(mask + 1, 0);
    byNew.assign(mask + 1, 0);
    gave.assign(members.size(), false);
    auto nameOf = [&](size_t k) -> std::string_view { return plan.entries[members[k]].name; };
    auto newOf = [&](size_t k) -> std::string_view { return plan.entries[members[k]].newName; };
    for (size_t k = 0; k < members.size(); ++k) {
      size_t slot = hash(nameOf(k)) & mask;
      while (byName[slot] != 0) slot = (slot + 1) & mask;
      byName[slot] = static_cast<uint32_t>(k + 1);
    }
    for (size_t k = 0; k < members.size(); ++k) {
      const size_t i = members[k];
      NameEntry& e = plan.entries[i];
      if (e.newName.empty() ||
          (e.status != NameStatus::kRepair && e.status != NameStatus::kConflict)) {
        continue;
      }
      e.status = NameStatus::kRepair;
      e.reason.clear();
      const std::string_view target = e.newName;
      const size_t start = hash(target) & mask;
      // Who has it as the name now: the last of them still to be renamed holds it; one given its
      // own repaired name freed it.
      size_t held = kNone, last = 0;
      bool freed = false;
      for (size_t slot = start; byName[slot] != 0; slot = (slot + 1) & mask) {
        const size_t other = byName[slot] - 1;
        if (nameOf(other) != target) continue;
        if (!newOf(other).empty() && (held == kNone || other >= last)) {
          held = members[other];
          last = other;
        }
        freed = freed || gave[other];
      }
      // Who was given this repaired name before; else the free slot it takes when it is given.
      size_t given = kNone, slot = start;
      for (; byNew[slot] != 0; slot = (slot + 1) & mask) {
        if (newOf(byNew[slot] - 1) == target) {
          given = members[byNew[slot] - 1];
          break;
        }
      }
      if (given != kNone) {
        e.status = NameStatus::kConflict;
        e.reason = Core::tr("与“%1”修复后的名称相同").arg(ShownAsIs(plan.entries[given].name));
      } else if (!freed && exists(e.realFolder, e.newName)) {
        e.status = NameStatus::kConflict;
        e.reason = held != kNone && held > i ? Core::tr("已有同名的文件或文件夹，它在此之后才改名")
                                             : Core::tr("已有同名的文件或文件夹");
      } else {
        byNew[slot] = static_cast<uint32_t>(k + 1);
        gave[k] = true;
      }
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
    const size_t place = gather.PlaceOf(folder, real);
    const size_t group =
        info.folder ? gather.PlaceOf(folder + name + '/', real + name + '/') : place;
    gather.AddGiven(place, name, info.folder, group);
  }
  for (const std::string& folder : targets.folders) {
    const std::string real = RealFolder(folder);
    if (!real.empty()) gather.Walk(gather.PlaceOf(WithSlash(folder), real), targets.recursive);
  }

  NamePlan plan;
  plan.looked = static_cast<int>(gather.items.size());
  // Each folder's names, the folders in the order of their real paths.
  std::vector<std::vector<size_t>> groups(gather.places.size());
  for (size_t i = 0; i < gather.items.size(); ++i) groups[gather.items[i].group].push_back(i);
  std::vector<size_t> byPath;
  for (size_t g = 0; g < groups.size(); ++g) {
    if (!groups[g].empty()) byPath.push_back(g);
  }
  std::sort(byPath.begin(), byPath.end(),
            [&](size_t a, size_t b) { return gather.places[a].real < gather.places[b].real; });
  // The names that read wrong, with their readings, folder by folder.
  struct Found {
    size_t item;
    legacy::NameReading reading;
  };
  std::vector<Found> found;
  for (size_t g : byPath) {
    const std::vector<size_t>& members = groups[g];
    std::vector<std::string_view> names;
    names.reserve(members.size());
    for (size_t i : members) names.push_back(*gather.items[i].name);
    // The folder's own name came with its contents: it helps decide theirs.
    const std::string bare = WithoutSlash(gather.places[g].real);
    const std::string own = bare.substr(bare.rfind('/') + 1);
    std::vector<std::string_view> context;
    if (std::find(names.begin(), names.end(), own) == names.end()) context.push_back(own);
    std::vector<legacy::NameReading> readings =
        legacy::ReadNameViews(names, forced, platform::kNamesAreBytes, context);
    for (size_t m = 0; m < members.size(); ++m) {
      if (readings[m].kind != legacy::NameReading::Kind::kFine) {
        found.push_back({members[m], std::move(readings[m])});
      }
    }
  }
  // The entries in the order their renames run: deeper paths first (a folder's contents are
  // renamed while the folder keeps its name), else as they were read. Each is looked at in its
  // folder, opened once for all its names.
  std::vector<long> depth(gather.places.size(), -1);
  auto depthOf = [&](size_t place) {
    if (depth[place] < 0) {
      const std::string& real = gather.places[place].real;
      depth[place] = std::count(real.begin(), real.end(), '/');
    }
    return depth[place];
  };
  std::vector<std::pair<long, size_t>> order;
  order.reserve(found.size());
  for (size_t f = 0; f < found.size(); ++f) {
    order.emplace_back(-depthOf(gather.items[found[f].item].place), f);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  platform::Folder open;
  size_t opened = gather.places.size();
  auto look = [&](size_t place, const std::string& name) {
    if (opened != place) {
      // Without its "/", the folder's last name is not followed where it is a link.
      opened = open.Open(WithoutSlash(gather.places[place].real)) ? place : gather.places.size();
    }
    return opened == place ? open.Stat(name)
                           : platform::StatPath(gather.places[place].real + name, false);
  };
  plan.entries.reserve(found.size());
  for (const auto& [d, f] : order) {
    legacy::NameReading& r = found[f].reading;
    const Item& item = gather.items[found[f].item];
    const platform::EntryInfo info =
        item.seen != kUnseen ? gather.seen[item.seen] : look(item.place, *item.name);
    if (!info.exists || info.link) continue;  // a link keeps its name: it is not what it leads to
    NameEntry& e = plan.entries.emplace_back();
    e.folder = gather.places[item.place].folder;
    e.realFolder = gather.places[item.place].real;
    e.name = *item.name;
    e.isFolder = item.isFolder;
    e.form = r.form;
    e.encoding = r.encoding;
    e.choices = std::move(r.choices);
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
  }
  open.Close();
  SettleConflicts(plan, [&](const std::string& real, const std::string& name) {
    return gather.Exists(real, name);
  });
  return plan;
}

void PickReading(NamePlan& plan, size_t i, size_t choice) {
  NameEntry& e = plan.entries.at(i);
  if (choice >= e.choices.size()) return;
  e.encoding = e.choices[choice].first;
  e.newName = rules::NativePath(e.choices[choice].second);
  e.status = e.newName.size() > 255 ? NameStatus::kRefused : NameStatus::kRepair;
  e.reason = e.status == NameStatus::kRefused ? Core::tr("修复后的名称超过255字节") : QString();
  SettleConflicts(plan, [](const std::string& real, const std::string& name) {
    return platform::StatPath(real + name, false).exists;
  });
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
