#include "core/plans/Plans.h"

#include <QStringList>
#include <cerrno>
#include <exception>
#include <map>

#include "core/fields/Fields.h"
#include "core/fields/Id3v2Fields.h"
#include "core/fields/NameTemplate.h"
#include "core/text/Rules.h"
#include "core/utils/Reasons.h"
#include "core/utils/Tr.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/Folder.h"
#include "tags/mp3/TMp3Tag.h"
#include "tags/wma/TWmaTag.h"

namespace core {
namespace {

QString Shown(const std::string& bytes) { return rules::ShownPath(bytes); }

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
  if (name.size() > 255) return Core::tr("新文件名超过255字节");
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 32) return Core::tr("新文件名含有控制字符");
    if (QByteArrayView("\\/:*?\"<>|").contains(c)) {
      return Core::tr("新文件名含有文件名不允许的字符“%1”").arg(QChar::fromLatin1(c));
    }
  }
  return Core::tr("新文件名不合法");
}

}  // namespace

Mp3Snapshot ReadMp3Snapshot(const std::string& path) {
  platform::File file;
  return ReadMp3Snapshot(path, file);
}

Mp3Snapshot ReadMp3Snapshot(const std::string& path, platform::File& file) {
  Mp3Snapshot state;
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
  const TrackFields f = ReadFields(path);
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
RenamePlan PlanNames(const std::vector<Track>& tracks, PlaceWord places,
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
      finish(RenameStatus::kSkipped, Core::tr("文件名已经相同"));
      continue;
    }
    if (!platform::IsPortableFileName(entry.newName)) {
      finish(RenameStatus::kRefused, RefusalOf(entry.newName));
      continue;
    }
    // A name that begins with a dot hides the file on Linux and macOS.
    if (!entry.newName.empty() && entry.newName.front() == '.') {
      finish(RenameStatus::kRefused, Core::tr("新文件名以“.”开头，文件会被隐藏"));
      continue;
    }
    const std::string from = track.Path();
    const std::string to = track.folder + entry.newName;
    const platform::EntryInfo source = platform::StatPath(from, false);
    if (!source.exists) {
      finish(RenameStatus::kRefused, Core::tr("文件不存在"));
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
      // The other file by its name (and its place, counted from 1, when it is in the plan).
      auto other = [&](int k) {
        // One arg() for both: a "%2" in the file name stays as it is.
        return (places == PlaceWord::kRow ? Core::tr("“%1”（第 %2 行）")
                                          : Core::tr("“%1”（第 %2 个文件）"))
            .arg(Shown(tracks[static_cast<size_t>(k)].fileName),
                 QString::number(tracks[static_cast<size_t>(k)].position + 1));
      };
      if (gave != newNameOf.end() && who == gave->second) {
        reason = Core::tr("与%1的新文件名相同").arg(other(gave->second));
      } else if (who > static_cast<int>(i)) {
        reason = Core::tr("目标文件名是%1的现名，它在此之后才改名").arg(other(who));
      } else if (who >= 0) {
        reason = Core::tr("目标文件名是%1的现名，它不改名").arg(other(who));
      } else {
        reason = Core::tr("目标文件已存在");
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

RenamePlan PlanRename(const std::vector<Track>& tracks, int rule, PlaceWord places) {
  RenamePlan plan = PlanNames(tracks, places, [rule](const Track& track) -> NewName {
    if (track.title.isEmpty()) return {std::nullopt, Core::tr("歌曲标题为空")};
    if (track.artist.isEmpty()) return {std::nullopt, Core::tr("歌手为空")};
    const QString extension = rules::RenameExtension(rules::DisplayName(track.Path()));
    const std::optional<QString> name =
        rules::NewFileName(rule, track.artist, track.title, track.position, extension);
    if (!name) return {std::nullopt, Core::tr("没有这条改名规则")};
    return {name, {}};
  });
  plan.rule = rule;
  return plan;
}

RenamePlan PlanRename(const std::vector<Track>& tracks, const NameTemplate& name,
                      const NameCharacters& characters, PlaceWord places) {
  RenamePlan plan = PlanNames(tracks, places, [&](const Track& track) -> NewName {
    const NameTemplate::Naming naming = name.Expand(track, characters);
    if (!naming.skipped.isEmpty()) return {std::nullopt, naming.skipped};
    return {naming.stem + rules::RenameExtension(rules::DisplayName(track.Path())), {}};
  });
  plan.rule = 0;
  return plan;
}

QString SummarizeRenamePlan(const RenamePlan& plan) {
  return Core::tr("共 %1 个文件：改名 %2，跳过 %3，冲突 %4，拒绝 %5")
      .arg(plan.entries.size())
      .arg(plan.Count(RenameStatus::kRename))
      .arg(plan.Count(RenameStatus::kSkipped))
      .arg(plan.Count(RenameStatus::kConflict))
      .arg(plan.Count(RenameStatus::kRefused));
}

QString DescribeRenamePlan(const RenamePlan& plan, int maxLines) {
  // The counts first, then every conflict and refusal (never cut off), then the renames and the
  // skipped files, at most `maxLines` of them.
  QStringList lines{SummarizeRenamePlan(plan)};
  auto line = [](const RenameEntry& e, const QString& label) {
    const QString target = e.newName.empty() ? QString() : QStringLiteral(" → ") + Shown(e.newName);
    return label.isEmpty()
               ? QStringLiteral("%1%2").arg(Shown(e.track.fileName), target)
               : Core::tr("[%1] %2%3：%4").arg(label, Shown(e.track.fileName), target, e.reason);
  };
  const std::pair<RenameStatus, QString> problems[] = {{RenameStatus::kConflict, Core::tr("冲突")},
                                                       {RenameStatus::kRefused, Core::tr("拒绝")}};
  for (const auto& [status, label] : problems) {
    for (const auto& e : plan.entries) {
      if (e.status == status) lines << line(e, label);
    }
  }
  int listed = 0, more = 0;
  const std::pair<RenameStatus, QString> rest[] = {{RenameStatus::kRename, QString()},
                                                   {RenameStatus::kSkipped, Core::tr("跳过")}};
  for (const auto& [status, label] : rest) {
    for (const auto& e : plan.entries) {
      if (e.status != status) continue;
      if (listed++ < maxLines) {
        lines << line(e, label);
      } else {
        ++more;
      }
    }
  }
  if (more > 0) lines << Core::tr("……另有 %1 个文件未列出").arg(more);
  return lines.join(QLatin1Char('\n'));
}

const std::optional<QString>& EditFields::Get(TagField field) const {
  static const std::optional<QString> none;
  switch (field) {
    case TagField::kArtist:
      return artist;
    case TagField::kAlbum:
      return album;
    case TagField::kYear:
      return year;
    case TagField::kComment:
      return comment;
    default:
      return none;
  }
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
      return Core::tr("歌手");
    case Field::kAlbum:
      return Core::tr("专辑");
    case Field::kYear:
      return Core::tr("年份");
    case Field::kComment:
      return Core::tr("说明");
  }
  return {};
}

void SetEditFields(TIDmp3& tag, const EditFields& fields) {
  if (fields.moreMp3) fields.moreMp3(tag);
  for (TagField field : kBatchSetOrder) {
    if (const std::optional<QString>& text = fields.Get(field)) SetMp3Text(tag, field, *text);
  }
  FitMp3Comment(tag);
}

void SetEditFields(TIDwma& tag, const EditFields& fields) {
  if (fields.moreWma) fields.moreWma(tag);
  for (TagField field : kBatchSetOrder) {
    if (const std::optional<QString>& text = fields.Get(field)) {
      (tag.*InfoOf(field).setWma)(rules::ToUtf16(rules::TrimControl(*text)));
    }
  }
}

namespace {

Field BatchField(TagField field) {
  switch (field) {
    case TagField::kArtist:
      return Field::kArtist;
    case TagField::kAlbum:
      return Field::kAlbum;
    case TagField::kYear:
      return Field::kYear;
    default:
      return Field::kComment;
  }
}

// The changes of the batch's four fields between two states of a tag.
template <class Tag>
void AddChanges(const Tag& before, const Tag& after, const EditFields& fields, EditEntry& entry) {
  for (TagField field : kBatchSetOrder) {
    if (!fields.Get(field)) continue;
    const QString old = FieldText(before, field), fresh = FieldText(after, field);
    if (old != fresh) entry.changes.push_back({BatchField(field), old, fresh});
  }
}

}  // namespace

id3v2::Changes StartChangesOf(const EditFields& fields) {
  id3v2::Changes changes;
  for (TagField field : kBatchFields) {
    if (const std::optional<QString>& text = fields.Get(field)) SetChange(changes, field, *text);
  }
  if (fields.title) SetChange(changes, TagField::kTitle, *fields.title);
  if (fields.track) SetChange(changes, TagField::kTrack, *fields.track);
  if (fields.genre) SetChange(changes, TagField::kGenre, *fields.genre);
  return changes;
}

namespace {

// The changes of an MP3 file's ID3v2 tag, as the plan lists them.
std::vector<StartChange> ListStartChanges(const id3v2::TagInfo& tag, const id3v2::Changes& wanted) {
  std::vector<StartChange> out;
  const id3v2::Changes changes = ChangesFor(tag, wanted);
  for (TagField field : ChangedFields(changes)) {
    const id3v2::Field f = *Id3v2FieldOf(field);
    out.push_back({field, Id3v2Text(tag.fields[f]), QString::fromStdU16String(*changes[f])});
  }
  return out;
}

}  // namespace

EditPlan PlanEdit(const std::vector<std::string>& paths, const EditFields& common,
                  const std::vector<int>& positions, const std::vector<EditFields>& each) {
  EditPlan plan;
  plan.fields = common;
  plan.entries.reserve(paths.size());
  TIDmp3 mp3;
  TIDwma wma;
  for (size_t i = 0; i < paths.size(); ++i) {
    EditEntry entry;
    if (i < each.size()) entry.fields = each[i];
    const EditFields& fields = plan.FieldsOf(entry);
    entry.path = paths[i];
    entry.position = i < positions.size() ? positions[i] : static_cast<int>(i);
    entry.mp3 = TagKindOf(entry.path, true) == TagKind::kMp3;
    // Each field: the value the file holds now and the one it will hold, set as the batch sets it.
    if (entry.mp3) {
      // What ReadFromFile does, with the bytes kept for applying the plan.
      platform::File file;  // one open for both tags
      entry.snapshot = ReadMp3Snapshot(entry.path, file);
      entry.readable = entry.snapshot.read;
      mp3.Clear();
      if (entry.snapshot.tagged) {
        mp3.HasTag = true;
        DecodeBlock(entry.snapshot.last, mp3);
      }
      if (!entry.readable) entry.reason = Core::tr("无法读取标签");
      TIDmp3 after = mp3;
      SetEditFields(after, fields);
      AddChanges(mp3, after, fields, entry);
      const id3v2::Changes startChanges = StartChangesOf(fields);
      id3v2::TagInfo start;
      if (entry.readable && AnyChange(startChanges) && id3v2::ReadFromOpenFile(file, start)) {
        entry.startChanges = ListStartChanges(start, startChanges);
        if (start.presence == id3v2::Presence::kTag) {
          for (const ConvertText& t : GarbledTexts(TagKind::kMp3, mp3, wma, start)) {
            if (!startChanges[*Id3v2FieldOf(t.field)]) entry.legacy.push_back(t);
          }
        }
      }
    } else {
      try {
        entry.readable = wma.ReadFromFile(entry.path);
        if (!entry.readable) entry.reason = Core::tr("不是WMA文件或文件不存在");
      } catch (const std::exception& e) {
        entry.reason = QString::fromUtf8(e.what());
        wma.Clear();
      }
      TIDwma after = wma;
      SetEditFields(after, fields);
      AddChanges(wma, after, fields, entry);
      if (entry.readable) {
        for (const ConvertText& t : GarbledTexts(TagKind::kWma, mp3, wma, {})) {
          // A text the batch sets is the batch's.
          if (QString::fromStdU16String(after.*InfoOf(t.field).wma) == t.now) {
            entry.legacy.push_back(t);
          }
        }
      }
    }
    plan.entries.push_back(std::move(entry));
  }
  return plan;
}

int EditPlan::LegacyFiles() const {
  int n = 0;
  for (const auto& e : entries) n += !e.legacy.empty();
  return n;
}

QString SummarizeEditPlan(const EditPlan& plan) {
  int changes = 0, unreadable = 0;
  for (const auto& e : plan.entries) {
    if (!e.readable) {
      ++unreadable;
    } else if (!e.changes.empty() || !e.startChanges.empty()) {
      ++changes;
    }
  }
  return Core::tr("共 %1 个文件：修改 %2，无需修改 %3，无法读取 %4")
      .arg(plan.entries.size())
      .arg(changes)
      .arg(static_cast<int>(plan.entries.size()) - changes - unreadable)
      .arg(unreadable);
}

QString DescribeEditPlan(const EditPlan& plan, int maxFiles) {
  // The counts first, then every file that cannot be read (never cut off), then the files and
  // their changes, at most `maxFiles` files.
  QStringList lines{SummarizeEditPlan(plan)};
  for (const auto& e : plan.entries) {
    if (!e.readable) lines << Core::tr("[无法读取] %1：%2").arg(Shown(e.path), e.reason);
  }
  int listed = 0, more = 0;
  for (const auto& e : plan.entries) {
    if (!e.readable) continue;
    if (listed++ >= maxFiles) {
      ++more;
      continue;
    }
    const bool none = e.changes.empty() && e.startChanges.empty();
    lines << Shown(e.path) + (none ? Core::tr("：没有要改变的信息") : QString());
    for (const auto& c : e.changes) {
      lines << Core::tr("    %1：%2 → %3").arg(FieldName(c.field), c.oldValue, c.newValue);
    }
    for (const auto& c : e.startChanges) {
      lines
          << Core::tr("    ID3v2 %1：%2 → %3").arg(ShownFieldName(c.field), c.oldValue, c.newValue);
    }
    for (const ConvertText& t : e.legacy) {
      lines << Core::tr("    旧编码 %1：%2 → %3").arg(ConvertFieldName(t.field), t.now, t.after);
    }
  }
  if (more > 0) lines << Core::tr("……另有 %1 个文件未列出").arg(more);
  return lines.join(QLatin1Char('\n'));
}

// ---- Unicode tags

int ConvertPlan::Count(ConvertStatus status) const {
  int n = 0;
  for (const auto& e : entries) n += e.status == status;
  return n;
}

namespace {

bool BeyondAscii(const std::string& bytes) {
  for (char c : bytes) {
    if (static_cast<unsigned char>(c) > 0x7F) return true;
  }
  return false;
}

// The fields of an ID3v1 block as a new ID3v2 tag holds them: the texts as the detection reads
// them (ASCII as it is; a slot it cannot read clearly left out), the track number, the genre's
// name.
id3v2::Changes NewTagFieldsOf(const TIDmp3& v1, const legacy::Detection& detection) {
  id3v2::Changes fields;
  const TrackFields shown = FieldsOf(v1);
  const std::pair<TagField, const std::string*> v1Slots[] = {{TagField::kTitle, &v1.Title},
                                                             {TagField::kArtist, &v1.Artist},
                                                             {TagField::kAlbum, &v1.Album},
                                                             {TagField::kYear, &v1.Year},
                                                             {TagField::kComment, &v1.Comment}};
  for (const auto& [field, slot] : v1Slots) {
    const std::string bytes = SlotBytes(*slot);
    if (!BeyondAscii(bytes)) {
      if (!shown.Get(field).isEmpty()) SetChange(fields, field, shown.Get(field));
    } else if (std::optional<QString> text =
                   legacy::Reading(detection, bytes, legacy::Place::kSlot)) {
      if (!rules::TrimControl(*text).isEmpty()) SetChange(fields, field, *text);
    }
  }
  for (TagField field : {TagField::kTrack, TagField::kGenre}) {
    if (!shown.Get(field).isEmpty()) SetChange(fields, field, shown.Get(field));
  }
  return fields;
}

// "需要确认：GBK 或 Big5" for a file whose readings are too close to choose.
QString NeedsALookReason(const legacy::Detection& d) {
  if (!d.second) return Core::tr("需要确认：无法确定文字的编码");
  return Core::tr("需要确认：可能是 %1，也可能是 %2")
      .arg(QString::fromLatin1(legacy::NameOf(d.encoding)),
           QString::fromLatin1(legacy::NameOf(*d.second)));
}

}  // namespace

QString ConvertFieldName(TagField field) {
  const QString shown = ShownFieldName(field);
  return shown.isEmpty() ? QString::fromLatin1(InfoOf(field).label) : shown;
}

namespace {

bool BlockBeyondAscii(const TIDmp3& v1) {
  return v1.HasTag && (BeyondAscii(SlotBytes(v1.Title)) || BeyondAscii(SlotBytes(v1.Artist)) ||
                       BeyondAscii(SlotBytes(v1.Album)) || BeyondAscii(SlotBytes(v1.Year)) ||
                       BeyondAscii(SlotBytes(v1.Comment)));
}

// The bytes of an ID3v1 slot: players that read the block show them as Latin-1.
const std::string* SlotOf(const TIDmp3& v1, TagField field) {
  switch (field) {
    case TagField::kTitle:
      return &v1.Title;
    case TagField::kArtist:
      return &v1.Artist;
    case TagField::kAlbum:
      return &v1.Album;
    case TagField::kYear:
      return &v1.Year;
    case TagField::kComment:
      return &v1.Comment;
    default:
      return nullptr;
  }
}

// What players show of an ID3v2 field now: a Latin-1 frame's bytes as Latin-1, a Unicode one's
// text.
QString PlayersShow(const id3v2::FieldValue& value) {
  switch (value.kind) {
    case id3v2::FieldValue::kAbsent:
      return {};
    case id3v2::FieldValue::kLatin1:
      return rules::TrimControl(legacy::AsPlayersShow(value.latin1));
    case id3v2::FieldValue::kUnicode:
      break;
  }
  return rules::TrimControl(QString::fromStdU16String(value.text));
}

// The ID3v1 block's fields an ID3v2 tag lacks, which a conversion carries into it when the block
// holds text beyond ASCII and the tag lacks the title or the artist: players show the tag, and
// nothing of a field it lacks (an encoder's tag holds its name alone), whatever the block holds.
id3v2::Changes CarriedOf(const TIDmp3& v1, const id3v2::TagInfo& v2,
                         const legacy::Detection& detection) {
  id3v2::Changes added;
  if (!BlockBeyondAscii(v1) || (detection.any && detection.ambiguous)) return added;
  // A tag that gives the title and the artist reads right in players' lists: it is left as it is
  // (a comment only the block holds is no reason to touch a file that reads right).
  if (!Id3v2Text(v2.fields[id3v2::kTitle]).isEmpty() &&
      !Id3v2Text(v2.fields[id3v2::kArtist]).isEmpty()) {
    return added;
  }
  const id3v2::Changes block = NewTagFieldsOf(v1, detection);
  for (size_t f = 0; f < id3v2::kFieldCount; ++f) {
    if (block[f] && !block[f]->empty() && Id3v2Text(v2.fields[f]).isEmpty()) added[f] = block[f];
  }
  return added;
}

// The fields of an ID3v2 tag a conversion under `decided` changes, before and after.
std::vector<ConvertText> TagTextsOf(const id3v2::TagInfo& v2, const legacy::Detection& decided,
                                    const id3v2::Changes& carried) {
  std::vector<ConvertText> texts;
  for (TagField field : kTrackFields) {
    const id3v2::Field f = *Id3v2FieldOf(field);
    if (carried[f]) {
      texts.push_back({field, {}, QString::fromStdU16String(*carried[f])});
    } else if (std::optional<QString> text = ConvertedText(decided, v2.fields[f])) {
      texts.push_back({field, PlayersShow(v2.fields[f]), *text});
    }
  }
  return texts;
}

// The fields a new tag of a block's text under `decided` gives, before and after: none when the
// block reads right in players as it is (Western text Latin-1 has).
std::vector<ConvertText> BlockTextsOf(const TIDmp3& v1, const legacy::Detection& decided) {
  std::vector<ConvertText> texts;
  if (!BlockBeyondAscii(v1)) return texts;
  const id3v2::Changes fields = NewTagFieldsOf(v1, decided);
  const bool western = decided.encoding == legacy::Encoding::kCp1252;
  if (western && !legacy::HasCp1252Only(SlotBytes(v1.Title) + SlotBytes(v1.Artist) +
                                        SlotBytes(v1.Album) + SlotBytes(v1.Comment))) {
    return texts;
  }
  for (TagField field : ChangedFields(fields)) {
    const std::string* slot = SlotOf(v1, field);
    if (slot == nullptr) continue;
    const std::string bytes = SlotBytes(*slot);
    const QString after = QString::fromStdU16String(*fields[*Id3v2FieldOf(field)]);
    // Players that read the block as Latin-1 show it right when its bytes are Latin-1 for the
    // text ("…" at 0x85 is CP1252's alone).
    const QString latin1 = QString::fromLatin1(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (rules::TrimControl(latin1) != after) {
      texts.push_back({field, rules::TrimControl(legacy::AsPlayersShow(bytes)), after});
    }
  }
  return texts;
}

// Plans an MP3 file: `entry.detection` (and `entry.chosen`) decide its reading.
void PlanMp3Conversion(ConvertEntry& entry, const TIDmp3& v1, const id3v2::TagInfo& v2) {
  const legacy::Detection decided = entry.Decided();
  if (v2.presence == id3v2::Presence::kTag) {
    id3v2::SavePlan plan;
    id3v2::Changes carried;
    errno = 0;
    const id3v2::Result r =
        PlanTagConversion(entry.path, v1, v2, decided, plan, entry.frames, &carried);
    if (r != id3v2::Result::kOk) {
      entry.status = ConvertStatus::kRefused;
      entry.reason = Id3v2Reason(r, errno);
    } else if (entry.frames == 0) {
      entry.reason = Core::tr("ID3v2 标签已是 Unicode");
    } else {
      entry.status = ConvertStatus::kConvert;
      entry.texts = TagTextsOf(v2, decided, carried);
    }
    return;
  }
  entry.texts = BlockTextsOf(v1, decided);
  if (entry.texts.empty()) {
    entry.reason = Core::tr("没有需要转换的文字");
    return;
  }
  entry.status = ConvertStatus::kConvert;
  entry.newTag = true;
}

// The WMA texts a conversion can change: each field's text and setter.
std::vector<const FieldInfo*> WmaTexts() {
  std::vector<const FieldInfo*> out;
  for (const FieldInfo& info : Fields()) out.push_back(&info);
  return out;
}

// A close call's fields as its best and its second reading give them, for a person to choose.
template <class TextsIn>
void ReadBoth(ConvertEntry& entry, const TextsIn& textsIn) {
  const legacy::Detection& d = entry.detection;
  if (!d.scores[static_cast<size_t>(d.encoding)]) return;  // no candidate reads every field
  entry.texts = textsIn(legacy::WithEncoding(d, d.encoding));
  if (d.second) entry.secondTexts = textsIn(legacy::WithEncoding(d, *d.second));
}

void PlanOneConversion(ConvertEntry& entry) {
  entry.status = ConvertStatus::kNothing;
  entry.reason.clear();
  entry.newTag = false;
  entry.frames = 0;
  entry.texts.clear();
  entry.secondTexts.clear();
  const FileKey key = FileKeyOf(entry.path);
  if (key == FileKey::kWma) {
    entry.wma = true;
    TIDwma tag;
    try {
      if (!tag.ReadFromFile(entry.path)) {
        entry.status = ConvertStatus::kRefused;
        entry.reason = Core::tr("不是WMA文件");
        return;
      }
    } catch (const std::exception& e) {
      entry.status = ConvertStatus::kRefused;
      entry.reason = QString::fromUtf8(e.what());
      return;
    }
    entry.detection = legacy::Detect(LegacyFieldsOf(tag));
    if (entry.NeedsALook()) {
      entry.reason = NeedsALookReason(entry.detection);
      ReadBoth(entry, [&](const legacy::Detection& d) { return WmaConversionOf(tag, d); });
      return;
    }
    entry.texts = WmaConversionOf(tag, entry.Decided());
    if (entry.texts.empty()) {
      entry.reason = Core::tr("没有需要转换的文字");
      return;
    }
    entry.status = ConvertStatus::kConvert;
    return;
  }
  if (key != FileKey::kMp3) {
    entry.reason = Core::tr("不是MP3文件");
    return;
  }
  TIDmp3 v1;
  id3v2::TagInfo v2;
  errno = 0;
  if (!id3v2::ReadBothTags(entry.path, v1, v2)) {
    entry.status = ConvertStatus::kRefused;
    entry.reason = ReasonOf(errno, Core::tr("无法读取标签"));
    return;
  }
  if (v2.presence == id3v2::Presence::kUnreadable) {
    entry.status = ConvertStatus::kRefused;
    entry.reason = Id3v2Reason(id3v2::Result::kRefused, 0);
    return;
  }
  entry.detection = DetectLegacy(v1, v2);
  if (entry.NeedsALook()) {
    entry.reason = NeedsALookReason(entry.detection);
    ReadBoth(entry, [&](const legacy::Detection& d) {
      return v2.presence == id3v2::Presence::kTag ? TagTextsOf(v2, d, CarriedOf(v1, v2, d))
                                                  : BlockTextsOf(v1, d);
    });
    return;
  }
  PlanMp3Conversion(entry, v1, v2);
}

}  // namespace

id3v2::Changes ConversionFieldsOf(const TIDmp3& v1, const legacy::Detection& detection) {
  return NewTagFieldsOf(v1, detection);
}

id3v2::Changes ConversionFieldsOf(const TIDmp3& v1) {
  return NewTagFieldsOf(v1, DetectLegacy(v1, id3v2::TagInfo{}));
}

id3v2::Result PlanTagConversion(const std::string& path, const TIDmp3& v1, const id3v2::TagInfo& v2,
                                const legacy::Detection& detection, id3v2::SavePlan& plan,
                                size_t& frames, id3v2::Changes* carried) {
  const id3v2::Changes added = CarriedOf(v1, v2, detection);
  if (carried != nullptr) *carried = added;
  return id3v2::PlanConversion(path, LegacyDecoder(detection), plan, frames,
                               MojibakeDecoder(detection), added);
}

std::vector<ConvertText> GarbledTexts(TagKind kind, const TIDmp3& v1, const TIDwma& wma,
                                      const id3v2::TagInfo& v2) {
  // A close call reads as its best reading here: players show it garbled all the same.
  auto clear = [](const legacy::Detection& d) {
    return d.ambiguous ? legacy::WithEncoding(d, d.encoding) : d;
  };
  if (kind == TagKind::kWma) {
    const legacy::Detection d = legacy::Detect(LegacyFieldsOf(wma));
    return d.any ? WmaConversionOf(wma, clear(d)) : std::vector<ConvertText>{};
  }
  const legacy::Detection d = DetectLegacy(v1, v2);
  if (!d.any) return {};
  if (v2.presence == id3v2::Presence::kTag) {
    return TagTextsOf(v2, clear(d), CarriedOf(v1, v2, clear(d)));
  }
  if (v2.presence == id3v2::Presence::kUnreadable) return {};
  return BlockTextsOf(v1, clear(d));
}

QString DescribeGarbled(const std::vector<ConvertText>& texts) {
  QStringList lines{Core::tr("播放器显示为乱码（转换为 Unicode 标签可修正）：")};
  for (const ConvertText& t : texts) {
    lines << Core::tr("%1：播放器显示“%2”，应为“%3”")
                 .arg(ConvertFieldName(t.field), t.now.isEmpty() ? Core::tr("（无）") : t.now,
                      t.after);
  }
  return lines.join(QLatin1Char('\n'));
}

std::vector<std::string> LegacyFieldsOf(const TIDwma& tag) {
  std::vector<std::string> fields;
  for (const FieldInfo* info : WmaTexts()) {
    if (std::optional<std::string> bytes = legacy::MojibakeBytes(QStringView(tag.*info->wma))) {
      fields.push_back(std::move(*bytes));
    }
  }
  return fields;
}

std::vector<ConvertText> WmaConversionOf(const TIDwma& tag, const legacy::Detection& detection) {
  std::vector<ConvertText> out;
  for (const FieldInfo* info : WmaTexts()) {
    const QString now = QString::fromStdU16String(tag.*info->wma);
    const std::optional<std::string> bytes = legacy::MojibakeBytes(now);
    if (!bytes) continue;
    const std::optional<QString> text =
        legacy::Reading(detection, *bytes, legacy::Place::kMojibake);
    if (text && *text != now) out.push_back({info->field, now, *text});
  }
  return out;
}

ConvertPlan PlanConvert(const std::vector<std::string>& paths, const std::vector<int>& positions,
                        std::optional<legacy::Encoding> encoding) {
  ConvertPlan plan;
  for (size_t i = 0; i < paths.size(); ++i) {
    ConvertEntry entry;
    entry.path = paths[i];
    entry.position = i < positions.size() ? positions[i] : static_cast<int>(i);
    entry.chosen = encoding;
    PlanOneConversion(entry);
    plan.entries.push_back(std::move(entry));
  }
  return plan;
}

void ChooseEncoding(ConvertEntry& entry, std::optional<legacy::Encoding> encoding) {
  entry.chosen = encoding;
  PlanOneConversion(entry);
}

int ConvertPlan::NeedingALook() const {
  int n = 0;
  for (const auto& e : entries) n += e.NeedsALook();
  return n;
}

QString SummarizeConvertPlan(const ConvertPlan& plan) {
  const int looks = plan.NeedingALook();
  QString line = Core::tr("共 %1 个文件：转换 %2，无需转换 %3，无法转换 %4")
                     .arg(plan.entries.size())
                     .arg(plan.Count(ConvertStatus::kConvert))
                     .arg(plan.Count(ConvertStatus::kNothing) - looks)
                     .arg(plan.Count(ConvertStatus::kRefused));
  if (looks > 0) line += Core::tr("，需要确认 %1").arg(looks);
  return line;
}

QString DescribeConvertPlan(const ConvertPlan& plan, int maxFiles) {
  QStringList lines{SummarizeConvertPlan(plan)};
  for (const auto& e : plan.entries) {
    if (e.status == ConvertStatus::kRefused) {
      lines << Core::tr("[无法转换] %1：%2").arg(Shown(e.path), e.reason);
    }
  }
  int listed = 0, more = 0;
  for (const auto& e : plan.entries) {
    if (e.status == ConvertStatus::kRefused) continue;
    if (listed++ >= maxFiles) {
      ++more;
      continue;
    }
    const auto undecodable = static_cast<int>(e.detection.undecodable.size());
    if (e.status == ConvertStatus::kNothing) {
      lines << Core::tr("%1：%2").arg(Shown(e.path), e.reason);
      if (undecodable > 0)
        lines << Core::tr("    %1 项文字无法识别编码，保持原样").arg(undecodable);
      continue;
    }
    const QString encoding = QString::fromLatin1(legacy::NameOf(e.Decided().encoding));
    lines << Shown(e.path) +
                 (e.wma ? Core::tr("：%1 项文字按 %2 读出").arg(e.texts.size()).arg(encoding)
                  : e.newTag
                      ? Core::tr("：新建 ID3v2.3 标签（UTF-16），按 %1 读出").arg(encoding)
                      : Core::tr("：%1 个帧转为 Unicode，按 %2 读出").arg(e.frames).arg(encoding));
    for (const ConvertText& t : e.texts) {
      lines << Core::tr("    %1：%2 → %3").arg(ConvertFieldName(t.field), t.now, t.after);
    }
    if (undecodable > 0) lines << Core::tr("    %1 项文字无法识别编码，保持原样").arg(undecodable);
  }
  if (more > 0) lines << Core::tr("……另有 %1 个文件未列出").arg(more);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace core
