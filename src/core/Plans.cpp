#include "core/Plans.h"

#include <QStringList>
#include <cerrno>
#include <exception>
#include <map>

#include "core/Fields.h"
#include "core/NameTemplate.h"
#include "core/Rules.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace core {
namespace {

QString Shown(const std::string& bytes) { return rules::DisplayName(bytes); }

// True when the two names of one folder differ in ASCII letter case only.
bool CaseOnly(const std::string& a, const std::string& b) {
  if (a.size() != b.size() || a == b) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// True when `to` names the very file `from` names: a name that differs in letter case only, on a
// file system that folds case. The identity tells on most; where it cannot (FUSE gives each
// spelling a node of its own) the folder's listing holds one spelling, not both.
bool SameEntry(const Track& track, const std::string& to, const platform::EntryInfo& source,
               const platform::EntryInfo& target) {
  if (source.SameFile(target)) return true;
  if (!CaseOnly(track.fileName, to)) return false;
  platform::Folder folder;
  return folder.Open(track.folder) && !(folder.Lists(track.fileName) && folder.Lists(to));
}

QString RefusalOf(const std::string& name) {
  if (name.size() > 255) return QStringLiteral("新文件名超过255字节");
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 32) return QStringLiteral("新文件名含有控制字符");
    if (QByteArrayView("\\/:*?\"<>|").contains(c)) {
      return QStringLiteral("新文件名含有文件名不允许的字符“%1”").arg(QChar::fromLatin1(c));
    }
  }
  return QStringLiteral("新文件名不合法");
}

}  // namespace

Mp3Snapshot ReadMp3Snapshot(const std::string& path) {
  Mp3Snapshot state;
  platform::File file;
  if (!file.OpenRead(path)) return state;
  state.size = file.SizeAtOpen();
  state.readOnly = file.RefusesChange() == EACCES;
  if (state.size < static_cast<int64_t>(state.last.size())) return state;
  state.read = file.ReadAt(state.size - 128, state.last.data(), state.last.size());
  state.tagged = state.read && IsTagBlock(state.last);
  return state;
}

Track TrackAt(const std::string& path, int position) {
  Track track;
  const size_t slash = path.rfind('/');
  track.folder = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
  track.fileName = slash == std::string::npos ? path : path.substr(slash + 1);
  track.position = position;
  return track;
}

Track ReadTrack(const std::string& path, int position) {
  Track track = TrackAt(path, position);
  TIDmp3 mp3;
  TIDwma wma;
  const TrackFields f = ReadTag(path, mp3, wma) == TagKind::kMp3 ? FieldsOf(mp3) : FieldsOf(wma);
  track.title = f.title;
  track.artist = f.artist;
  track.album = f.album;
  track.year = f.year;
  track.comment = f.comment;
  track.track = f.track;
  track.genre = f.genre;
  return track;
}

int RenamePlan::Count(RenameStatus status) const {
  int n = 0;
  for (const auto& e : entries) n += e.status == status;
  return n;
}

namespace {

// The new name of a track (with its extension), or why it has none.
struct NewName {
  std::optional<QString> name;
  QString skipped;
};

// The plan of giving each track the name `nameOf` makes. The entries are worked out in order, as
// the renames will run: a name is free when no file holds it on disk, or when an earlier entry
// renames its file away; it is taken by a file that is not renamed, by a later entry's file that
// still holds it, or by an earlier entry's new name.
RenamePlan PlanNames(const std::vector<Track>& tracks,
                     const std::function<NewName(const Track&)>& nameOf) {
  RenamePlan plan;
  // Who holds a name as the renames go on: the index of the entry whose file holds it, -1 for a
  // file outside the plan, -2 for a name that was freed. Names not in the map are as on disk.
  std::map<std::string, int> holder;
  std::map<std::string, int> newNameOf;  // a path -> the entry that gave it as its new name
  for (size_t i = 0; i < tracks.size(); ++i) holder[tracks[i].Path()] = static_cast<int>(i);

  for (size_t i = 0; i < tracks.size(); ++i) {
    const Track& track = tracks[i];
    RenameEntry entry{track, {}, RenameStatus::kSkipped, {}};
    auto finish = [&](RenameStatus status, QString reason) {
      entry.status = status;
      entry.reason = std::move(reason);
      plan.entries.push_back(std::move(entry));
    };
    const NewName name = nameOf(track);
    if (!name.name) {
      finish(RenameStatus::kSkipped, name.skipped);
      continue;
    }
    entry.newName = rules::NativePath(*name.name);
    if (entry.newName == track.fileName) {
      finish(RenameStatus::kSkipped, QStringLiteral("文件名已经相同"));
      continue;
    }
    if (!platform::IsPortableFileName(entry.newName)) {
      finish(RenameStatus::kRefused, RefusalOf(entry.newName));
      continue;
    }
    const std::string from = track.Path();
    const std::string to = track.folder + entry.newName;
    const platform::EntryInfo source = platform::StatPath(from, false);
    if (!source.exists) {
      finish(RenameStatus::kRefused, QStringLiteral("文件不存在"));
      continue;
    }
    auto held = holder.find(to);
    const platform::EntryInfo target = platform::StatPath(to, false);
    int who = held != holder.end() ? held->second : (target.exists ? -1 : -2);
    if (who == -1) {
      // A name that differs in letter case only may name this very file on a case-insensitive
      // file system: that is no conflict.
      if (SameEntry(track, entry.newName, source, target)) who = -2;
    }
    if (who == static_cast<int>(i)) who = -2;
    if (who != -2) {
      QString reason;
      auto gave = newNameOf.find(to);
      if (gave != newNameOf.end() && who == gave->second) {
        reason = QStringLiteral("与本批第%1个文件的新文件名相同").arg(gave->second + 1);
      } else if (who > static_cast<int>(i)) {
        reason = QStringLiteral("目标文件名是本批第%1个文件的现名，它在此之后才改名").arg(who + 1);
      } else if (who >= 0) {
        reason = QStringLiteral("目标文件名是本批第%1个文件的现名，它不改名").arg(who + 1);
      } else {
        reason = QStringLiteral("目标文件已存在");
      }
      finish(RenameStatus::kConflict, reason);
      continue;
    }
    holder[from] = -2;
    holder[to] = static_cast<int>(i);
    newNameOf[to] = static_cast<int>(i);
    finish(RenameStatus::kRename, {});
  }
  return plan;
}

}  // namespace

RenamePlan PlanRename(const std::vector<Track>& tracks, int rule) {
  RenamePlan plan = PlanNames(tracks, [rule](const Track& track) -> NewName {
    if (track.title.isEmpty()) return {std::nullopt, QStringLiteral("歌曲标题为空")};
    if (track.artist.isEmpty()) return {std::nullopt, QStringLiteral("歌手为空")};
    const QString extension = rules::RenameExtension(Shown(track.Path()));
    const std::optional<QString> name =
        rules::NewFileName(rule, track.artist, track.title, track.position, extension);
    if (!name) return {std::nullopt, QStringLiteral("没有这条改名规则")};
    return {name, {}};
  });
  plan.rule = rule;
  return plan;
}

RenamePlan PlanRename(const std::vector<Track>& tracks, const NameTemplate& name,
                      const NameCharacters& characters) {
  RenamePlan plan = PlanNames(tracks, [&](const Track& track) -> NewName {
    const NameTemplate::Naming naming = name.Expand(track, characters);
    if (!naming.skipped.isEmpty()) return {std::nullopt, naming.skipped};
    return {naming.stem + rules::RenameExtension(Shown(track.Path())), {}};
  });
  plan.rule = 0;
  return plan;
}

namespace {

// The lines of a plan's description, at most `max` of them, then one line counting the rest.
class CappedLines {
 public:
  explicit CappedLines(int max) : max_(max) {}
  void Add(const QString& line) {
    if (lines_.size() < max_) {
      lines_ << line;
    } else {
      ++more_;
    }
  }
  // `rest` holds "%1" for the count of the lines left out.
  QString Text(const QString& rest) const {
    QStringList all = lines_;
    if (more_ > 0) all << rest.arg(more_);
    return all.join(QLatin1Char('\n'));
  }

 private:
  int max_;
  int more_ = 0;
  QStringList lines_;
};

}  // namespace

QString DescribeRenamePlan(const RenamePlan& plan, int maxLines) {
  CappedLines lines(maxLines);
  auto add = [&](const QString& line) { lines.Add(line); };
  for (const auto& e : plan.entries) {
    if (e.status == RenameStatus::kRename) {
      add(QStringLiteral("%1 → %2").arg(Shown(e.track.fileName), Shown(e.newName)));
    }
  }
  const std::pair<RenameStatus, QString> groups[] = {
      {RenameStatus::kConflict, QStringLiteral("冲突")},
      {RenameStatus::kRefused, QStringLiteral("拒绝")},
      {RenameStatus::kSkipped, QStringLiteral("跳过")}};
  for (const auto& [status, label] : groups) {
    for (const auto& e : plan.entries) {
      if (e.status != status) continue;
      const QString target =
          e.newName.empty() ? QString() : QStringLiteral(" → ") + Shown(e.newName);
      add(QStringLiteral("[%1] %2%3：%4").arg(label, Shown(e.track.fileName), target, e.reason));
    }
  }
  return lines.Text(QStringLiteral("……另有 %1 项"));
}

void EditFields::Set(TagField field, const QString& text) {
  switch (field) {
    case TagField::kArtist:
      artist = text;
      break;
    case TagField::kAlbum:
      album = text;
      break;
    case TagField::kYear:
      year = text;
      break;
    case TagField::kComment:
      comment = text;
      break;
    default:
      break;
  }
}

QString FieldName(Field field) {
  switch (field) {
    case Field::kArtist:
      return QStringLiteral("歌手");
    case Field::kAlbum:
      return QStringLiteral("专辑");
    case Field::kYear:
      return QStringLiteral("年份");
    case Field::kComment:
      return QStringLiteral("说明");
  }
  return {};
}

EditPlan PlanEdit(const std::vector<std::string>& paths, const EditFields& fields,
                  const std::vector<int>& positions) {
  EditPlan plan;
  plan.fields = fields;
  TIDmp3 mp3;
  TIDwma wma;
  for (size_t i = 0; i < paths.size(); ++i) {
    EditEntry entry;
    entry.path = paths[i];
    entry.position = i < positions.size() ? positions[i] : static_cast<int>(i);
    entry.mp3 = rules::WholeExtensionKey(Shown(entry.path)) == rules::kMp3Key;
    // Each field: the value the file holds now and the one it will hold, as the tag objects set
    // it, in the order of the batch (artist, album, comment, year).
    const std::pair<Field, const std::optional<QString>*> order[] = {
        {Field::kArtist, &fields.artist},
        {Field::kAlbum, &fields.album},
        {Field::kComment, &fields.comment},
        {Field::kYear, &fields.year}};
    if (entry.mp3) {
      // What ReadFromFile does, with the bytes kept for applying the plan.
      entry.snapshot = ReadMp3Snapshot(entry.path);
      entry.readable = entry.snapshot.read;
      mp3.Clear();
      if (entry.snapshot.tagged) {
        mp3.HasTag = true;
        DecodeBlock(entry.snapshot.last, mp3);
      }
      if (!entry.readable) entry.reason = QStringLiteral("无法读取标签");
      std::string* values[] = {&mp3.Artist, &mp3.Album, &mp3.Comment, &mp3.Year};
      void (TIDmp3::*setters[])(std::string_view) = {&TIDmp3::SetArtist, &TIDmp3::SetAlbum,
                                                     &TIDmp3::SetComment, &TIDmp3::SetYear};
      for (size_t f = 0; f < 4; ++f) {
        if (!*order[f].second) continue;
        const QString before = rules::FromGbk(*values[f]);
        (mp3.*setters[f])(rules::ToGbk(rules::TrimControl(**order[f].second)));
        const QString after = rules::FromGbk(*values[f]);
        if (before != after) entry.changes.push_back({order[f].first, before, after});
      }
    } else {
      try {
        entry.readable = wma.ReadFromFile(entry.path);
        if (!entry.readable) entry.reason = QStringLiteral("不是WMA文件或文件不存在");
      } catch (const std::exception& e) {
        entry.reason = QString::fromUtf8(e.what());
        wma.Clear();
      }
      std::u16string* values[] = {&wma.Artist, &wma.Album, &wma.Comment, &wma.Year};
      void (TIDwma::*setters[])(std::u16string_view) = {&TIDwma::SetArtist, &TIDwma::SetAlbum,
                                                        &TIDwma::SetComment, &TIDwma::SetYear};
      for (size_t f = 0; f < 4; ++f) {
        if (!*order[f].second) continue;
        const QString before = rules::FromUtf16(*values[f]);
        (wma.*setters[f])(rules::ToUtf16(rules::TrimControl(**order[f].second)));
        const QString after = rules::FromUtf16(*values[f]);
        if (before != after) entry.changes.push_back({order[f].first, before, after});
      }
    }
    plan.entries.push_back(std::move(entry));
  }
  return plan;
}

QString DescribeEditPlan(const EditPlan& plan, int maxLines) {
  CappedLines lines(maxLines);
  auto add = [&](const QString& line) { lines.Add(line); };
  for (const auto& e : plan.entries) {
    QString head = Shown(e.path);
    if (!e.readable) head += QStringLiteral("（%1）").arg(e.reason);
    if (e.changes.empty()) head += QStringLiteral("：没有要改变的信息");
    add(head);
    for (const auto& c : e.changes) {
      add(QStringLiteral("    %1：%2 → %3").arg(FieldName(c.field), c.oldValue, c.newValue));
    }
  }
  return lines.Text(QStringLiteral("……另有 %1 行"));
}

}  // namespace core
