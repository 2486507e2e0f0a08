#include "core/journal/Records.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <algorithm>
#include <map>
#include <tuple>

#include "core/journal/Delta.h"
#include "core/utils/Base64.h"
#include "platform/Folder.h"

namespace core {
namespace {

const QString kRenameKind = QStringLiteral("rename");

// The kind letter of an entry: 'n' for a file and 'd' for a folder known by their identity.
char IdentifiedChar(const Entry& e) { return e.isFolder ? 'd' : 'n'; }

char KindChar(Entry::Kind kind) {
  switch (kind) {
    case Entry::Kind::kMp3:
      return 'm';  // 'v' when its ID3v2 tag changes too (see EncodeBegin)
    case Entry::Kind::kWma:
      return 'w';
    case Entry::Kind::kRename:
      break;
  }
  return 'r';
}

// The state of an entry in the column "st": for an MP3 save 'T' (a tag was there), 'N' (the block
// is appended) or '-' (unreadable); for a WMA save 'I' (in place), 'R' (replaced) or '-'.
char StateChar(const Entry& e) {
  if (e.kind == Entry::Kind::kMp3) {
    return e.newBlock.isEmpty() ? '-' : e.oldBlock.isEmpty() ? 'N' : 'T';
  }
  if (e.kind == Entry::Kind::kWma) return !e.HasRegion() ? '-' : e.InPlace() ? 'I' : 'R';
  return 'r';
}

void Join(std::string& all, const std::string& one) {
  all += one;
  all += '\0';
}

std::vector<std::string> SplitNul(const QJsonValue& v) {
  std::vector<std::string> parts;
  const QByteArray all = FromB64(v);
  qsizetype from = 0;
  while (from < all.size()) {
    qsizetype nul = all.indexOf('\0', from);
    if (nul < 0) nul = all.size();
    parts.emplace_back(all.constData() + from, static_cast<size_t>(nul - from));
    from = nul + 1;
  }
  return parts;
}

// An absolute folder path, ending in "/", with no empty, "." or ".." name after its root.
bool TrustedFolder(const std::string& folder) {
  const size_t root = platform::RootLength(folder);
  if (root == 0 || folder.back() != '/') return false;
  size_t from = root;
  while (from < folder.size()) {
    const size_t slash = folder.find('/', from);
    if (!platform::IsPlainName(folder.substr(from, slash - from))) return false;
    from = slash + 1;
  }
  return true;
}

// An identity as the record keeps it: a decimal text (a JSON number loses 64-bit values).
QString IdText(uint64_t id) { return QString::number(static_cast<qulonglong>(id)); }
uint64_t IdOf(const QJsonValue& v) { return v.toString().toULongLong(); }

bool Trusted(const Entry& e) {
  return TrustedFolder(e.folder) && platform::IsPlainName(e.name) &&
         (e.kind != Entry::Kind::kRename || platform::IsPlainName(e.newName));
}

// Splits a path of a first-version record into a folder and a name.
void SplitPath(const std::string& path, Entry& e) {
  const size_t slash = path.rfind('/');
  e.folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  e.name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The columns that keep the regions of the entries of one kind ('v': MP3 files whose ID3v2 tag
// changes; 'w': WMA files), one element an entry: the old region as a delta, the digests and
// sizes, and for a write in place where it starts, how many bytes it changes and, when they are
// few, those bytes.
struct RegionColumns {
  explicit RegionColumns(QString p) : prefix(std::move(p)) {}

  QString prefix;
  QJsonArray deltas, oldDigests, newDigests, oldSizes, newSizes, spanAt, spanSize, oldSpans,
      newSpans;

  QString Key(const char* name) const { return prefix + QLatin1String(name); }

  void Add(const Entry& e) {
    deltas.append(QString::fromLatin1(e.oldDelta.toBase64()));
    oldDigests.append(QString::fromLatin1(e.oldDigest));
    newDigests.append(QString::fromLatin1(e.newDigest));
    oldSizes.append(static_cast<qint64>(e.oldHeaderSize));
    newSizes.append(static_cast<qint64>(e.newSize));
    spanAt.append(e.InPlace() ? static_cast<qint64>(e.spanAt) : qint64{-1});
    spanSize.append(static_cast<qint64>(e.spanSize));
    const bool here = e.SpansInRecord() && e.SpansKnown();
    oldSpans.append(here ? QString::fromLatin1(e.oldSpan.toBase64()) : QString());
    newSpans.append(here ? QString::fromLatin1(e.newSpan.toBase64()) : QString());
  }
  void Into(QJsonObject& r) const {
    if (deltas.isEmpty()) return;
    r.insert(Key("d"), deltas);
    r.insert(Key("h"), oldDigests);
    r.insert(Key("g"), newDigests);
    r.insert(Key("q"), oldSizes);
    r.insert(Key("z"), newSizes);
    r.insert(Key("p"), spanAt);
    r.insert(Key("l"), spanSize);
    r.insert(Key("so"), oldSpans);
    r.insert(Key("sn"), newSpans);
  }
  void From(const QJsonObject& r) {
    deltas = r.value(Key("d")).toArray();
    oldDigests = r.value(Key("h")).toArray();
    newDigests = r.value(Key("g")).toArray();
    oldSizes = r.value(Key("q")).toArray();
    newSizes = r.value(Key("z")).toArray();
    spanAt = r.value(Key("p")).toArray();
    spanSize = r.value(Key("l")).toArray();
    oldSpans = r.value(Key("so")).toArray();
    newSpans = r.value(Key("sn")).toArray();
  }
  // Entry `at` of the columns into `e`; false when the columns are not whole or disagree.
  bool Take(qsizetype at, Entry& e) const {
    for (const QJsonArray* column : {&deltas, &oldDigests, &newDigests, &oldSizes, &newSizes,
                                     &spanAt, &spanSize, &oldSpans, &newSpans}) {
      if (at >= column->size()) return false;
    }
    e.oldDelta = FromB64(deltas[at]);
    e.oldDigest = oldDigests[at].toString().toLatin1();
    e.newDigest = newDigests[at].toString().toLatin1();
    e.oldHeaderSize = oldSizes[at].toInteger(-1);
    e.newSize = newSizes[at].toInteger(-1);
    const int64_t from = spanAt[at].toInteger(-1);
    e.inPlace = from >= 0;
    e.spanAt = e.inPlace ? from : 0;
    e.spanSize = spanSize[at].toInteger(-1);
    e.oldSpan = FromB64(oldSpans[at]);
    e.newSpan = FromB64(newSpans[at]);
    e.spansInRecord = e.inPlace && (e.spanSize == 0 || !e.oldSpan.isEmpty());
    if (e.oldDigest.isEmpty() || e.newDigest.isEmpty() || e.oldHeaderSize < 0 || e.spanSize < 0) {
      return false;
    }
    if (e.inPlace &&
        (e.spanAt + e.spanSize > e.oldHeaderSize || (!e.oldSpan.isEmpty() && !e.SpansKnown()))) {
      return false;
    }
    return true;
  }
};

// The entries of a begin record of the first version, which kept paths as they were typed, and
// for a WMA save the size and digest of the header written only in its done record.
bool DecodeFirstVersion(const QJsonObject& begin, const std::optional<QJsonObject>& done,
                        std::vector<Entry>& entries) {
  const int n = begin.value(QStringLiteral("n")).toInt();
  const std::vector<std::string> paths = SplitNul(begin.value(QStringLiteral("p")));
  const QJsonArray sizes = begin.value(QStringLiteral("s")).toArray();
  if (static_cast<int>(paths.size()) != n || sizes.size() != n) return false;
  if (IsRenameKind(begin.value(QStringLiteral("kind")).toString())) {
    const auto folders = SplitNul(begin.value(QStringLiteral("d")));
    const auto news = SplitNul(begin.value(QStringLiteral("to")));
    if (static_cast<int>(folders.size()) != n || static_cast<int>(news.size()) != n) return false;
    for (int i = 0; i < n; ++i) {
      Entry e;
      e.folder = folders[i];
      e.name = paths[i];
      e.newName = news[i];
      e.size = sizes[i].toInteger(-1);
      entries.push_back(std::move(e));
    }
    return true;
  }
  const QString kinds = begin.value(QStringLiteral("k")).toString();
  const QString states = begin.value(QStringLiteral("st")).toString();
  const QByteArray olds = FromB64(begin.value(QStringLiteral("old")));
  const QByteArray news = FromB64(begin.value(QStringLiteral("new")));
  const QJsonArray headers = begin.value(QStringLiteral("h")).toArray();
  if (kinds.size() != n || states.size() != n) return false;
  const QJsonObject written = done ? done->value(QStringLiteral("z")).toObject() : QJsonObject();
  const QJsonObject digests = done ? done->value(QStringLiteral("g")).toObject() : QJsonObject();
  qsizetype oldAt = 0, newAt = 0, headerAt = 0;
  for (int i = 0; i < n; ++i) {
    Entry e;
    SplitPath(paths[i], e);
    e.size = sizes[i].toInteger(-1);
    const QChar state = states[i];
    if (kinds[i] == QLatin1Char('m')) {
      e.kind = Entry::Kind::kMp3;
      if (state != QLatin1Char('-')) {
        const bool tagged = state == QLatin1Char('T');
        if ((tagged && oldAt + 128 > olds.size()) || newAt + 128 > news.size()) return false;
        if (tagged) e.oldBlock = olds.mid(oldAt, 128);
        e.newBlock = news.mid(newAt, 128);
        oldAt += tagged ? 128 : 0;
        newAt += 128;
      }
    } else {
      e.kind = Entry::Kind::kWma;
      if (state == QLatin1Char('H')) {
        if (headerAt >= headers.size()) return false;
        DescribeRegions(e, FromB64(headers[headerAt++]), QByteArray(), false);
        const QString key = QString::number(i);
        e.newSize = written.value(key).toInteger(-1);
        e.newDigest = digests.value(key).toString().toLatin1();
      }
    }
    entries.push_back(std::move(e));
  }
  return true;
}

}  // namespace

bool IsRenameKind(const QString& kind) {
  return kind == kRenameKind || kind == QLatin1String("fix-names");
}

QByteArray Digest(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QString CaseTempPrefix(const QString& id) {
  return QStringLiteral(".velomi-rename-") + id.left(8) + QLatin1Char('-');
}

std::string CaseTempName(const QString& prefix, size_t k) {
  return prefix.toStdString() + std::to_string(k) + ".tmp";
}

std::pair<int64_t, int64_t> ChangedSpan(const QByteArray& a, const QByteArray& b) {
  const int64_t size = std::min(a.size(), b.size());
  const int64_t prefix = CommonPrefix(a.constData(), b.constData(), size);
  const int64_t suffix = CommonSuffix(a.constData(), size, b.constData(), size, size - prefix);
  return {prefix, size - prefix - suffix};
}

void DescribeRegions(Entry& e, const QByteArray& oldRegion, const QByteArray& newRegion,
                     bool inPlace) {
  e.oldHeaderSize = oldRegion.size();
  e.oldDigest = Digest(oldRegion);
  // A new region that is not known (a record of an older version) leaves the old one whole.
  e.oldDelta = EncodeDelta(newRegion, oldRegion);
  e.inPlace = inPlace && newRegion.size() == oldRegion.size() && !newRegion.isEmpty();
  if (!newRegion.isEmpty()) e.newDigest = Digest(newRegion);
  e.spanAt = 0;
  e.spanSize = 0;
  e.oldSpan.clear();
  e.newSpan.clear();
  if (e.inPlace) {
    std::tie(e.spanAt, e.spanSize) = ChangedSpan(oldRegion, newRegion);
    e.oldSpan = oldRegion.mid(e.spanAt, e.spanSize);
    e.newSpan = newRegion.mid(e.spanAt, e.spanSize);
  }
  e.spansInRecord = false;  // decided when the action is recorded
}

bool RebuildOld(const Entry& e, const QByteArray& newRegion, QByteArray& oldRegion) {
  // A region at a file's start is never larger than an ID3v2 tag or an ASF header can be.
  constexpr int64_t kLargest = int64_t{256} << 20;
  if (e.oldHeaderSize > kLargest) return false;
  if (!ApplyDelta(newRegion, e.oldDelta, oldRegion, e.oldHeaderSize)) return false;
  return oldRegion.size() == e.oldHeaderSize && Digest(oldRegion) == e.oldDigest;
}

QJsonObject EncodeBegin(const QString& kind, const QString& id, const std::vector<Entry>& entries) {
  std::map<std::string, int> folderIndex;
  QJsonArray folders, folderOf, sizes, devices, inodes;
  bool anyIdentified = false;
  RegionColumns tags(QStringLiteral("v")), headers(QStringLiteral("w"));
  std::string names, newNames, kinds, states, readOnly;
  QByteArray olds, news;
  bool anyReadOnly = false;
  for (const Entry& e : entries) {
    auto [it, added] = folderIndex.emplace(e.folder, static_cast<int>(folderIndex.size()));
    if (added) folders.append(B64(e.folder));
    folderOf.append(it->second);
    Join(names, e.name);
    Join(newNames, e.newName);
    sizes.append(static_cast<qint64>(e.size));
    kinds += e.kind == Entry::Kind::kMp3 && e.startTag        ? 'v'
             : e.kind == Entry::Kind::kRename && e.identified ? IdentifiedChar(e)
                                                              : KindChar(e.kind);
    devices.append(IdText(e.device));
    inodes.append(IdText(e.inode));
    anyIdentified = anyIdentified || e.identified;
    states += StateChar(e);
    readOnly += e.readOnly ? '1' : '0';
    anyReadOnly = anyReadOnly || e.readOnly;
    olds += e.oldBlock;
    news += e.newBlock;
    if (e.kind == Entry::Kind::kWma && e.HasRegion()) headers.Add(e);
    if (e.kind == Entry::Kind::kMp3 && e.startTag) tags.Add(e);
  }
  QJsonObject r{{QStringLiteral("id"), id},
                {QStringLiteral("kind"), kind},
                {QStringLiteral("n"), static_cast<int>(entries.size())},
                {QStringLiteral("dl"), folders},
                {QStringLiteral("di"), folderOf},
                {QStringLiteral("p"), B64(names)},
                {QStringLiteral("s"), sizes},
                {QStringLiteral("k"), QString::fromLatin1(kinds.c_str())},
                {QStringLiteral("st"), QString::fromLatin1(states.c_str())}};
  if (anyReadOnly) r.insert(QStringLiteral("ro"), QString::fromLatin1(readOnly.c_str()));
  if (anyIdentified) {
    r.insert(QStringLiteral("dv"), devices);
    r.insert(QStringLiteral("in"), inodes);
  }
  if (IsRenameKind(kind)) {
    r.insert(QStringLiteral("to"), B64(newNames));
    r.insert(QStringLiteral("tp"), CaseTempPrefix(id));
  }
  if (!olds.isEmpty()) r.insert(QStringLiteral("old"), QString::fromLatin1(olds.toBase64()));
  if (!news.isEmpty()) r.insert(QStringLiteral("new"), QString::fromLatin1(news.toBase64()));
  tags.Into(r);
  headers.Into(r);
  return r;
}

QJsonObject EncodeDone(const std::string& codes, bool settled) {
  QJsonObject r{{QStringLiteral("r"), QString::fromLatin1(codes.c_str())}};
  if (settled) r.insert(QStringLiteral("rec"), 1);
  return r;
}

bool DecodeBegin(const QJsonObject& begin, const std::optional<QJsonObject>& done, Decoded& out) {
  out = Decoded{};
  const int n = begin.value(QStringLiteral("n")).toInt(-1);
  if (n < 0) return false;
  if (begin.value(QStringLiteral("v")).toInt() < 2) {
    if (!DecodeFirstVersion(begin, done, out.entries)) return false;
  } else {
    const QJsonArray folders = begin.value(QStringLiteral("dl")).toArray();
    const QJsonArray folderOf = begin.value(QStringLiteral("di")).toArray();
    const std::vector<std::string> names = SplitNul(begin.value(QStringLiteral("p")));
    const std::vector<std::string> newNames = SplitNul(begin.value(QStringLiteral("to")));
    const QJsonArray sizes = begin.value(QStringLiteral("s")).toArray();
    const QString kinds = begin.value(QStringLiteral("k")).toString();
    const QString states = begin.value(QStringLiteral("st")).toString();
    const QString readOnly = begin.value(QStringLiteral("ro")).toString();
    const QByteArray olds = FromB64(begin.value(QStringLiteral("old")));
    const QByteArray news = FromB64(begin.value(QStringLiteral("new")));
    // Records of the second version hold both regions whole ("vo", "vn"; "h", "hn").
    const QJsonArray headers = begin.value(QStringLiteral("h")).toArray();
    const QJsonArray newHeaders = begin.value(QStringLiteral("hn")).toArray();
    const QJsonArray digests = begin.value(QStringLiteral("g")).toArray();
    const QJsonArray newSizes = begin.value(QStringLiteral("z")).toArray();
    const QJsonArray tags = begin.value(QStringLiteral("vo")).toArray();
    const QJsonArray newTags = begin.value(QStringLiteral("vn")).toArray();
    const QJsonArray tagDigests = begin.value(QStringLiteral("vg")).toArray();
    const QJsonArray tagSizes = begin.value(QStringLiteral("vz")).toArray();
    const bool wholeTags = begin.contains(QStringLiteral("vo"));
    const bool wholeHeaders = begin.contains(QStringLiteral("h"));
    RegionColumns tagColumns(QStringLiteral("v")), headerColumns(QStringLiteral("w"));
    tagColumns.From(begin);
    headerColumns.From(begin);
    const bool renames = IsRenameKind(begin.value(QStringLiteral("kind")).toString());
    const QJsonArray devices = begin.value(QStringLiteral("dv")).toArray();
    const QJsonArray inodes = begin.value(QStringLiteral("in")).toArray();
    if (folderOf.size() != n || static_cast<int>(names.size()) != n || sizes.size() != n ||
        kinds.size() != n || states.size() != n ||
        (renames && static_cast<int>(newNames.size()) != n) ||
        (!readOnly.isEmpty() && readOnly.size() != n)) {
      return false;
    }
    qsizetype oldAt = 0, newAt = 0, headerAt = 0, inPlaceAt = 0, tagAt = 0;
    for (int i = 0; i < n; ++i) {
      Entry e;
      const int f = folderOf[i].toInt(-1);
      if (f < 0 || f >= folders.size()) return false;
      e.folder = FromB64(folders[f]).toStdString();
      e.name = names[static_cast<size_t>(i)];
      if (renames) e.newName = newNames[static_cast<size_t>(i)];
      e.size = sizes[i].toInteger(-1);
      e.readOnly = !readOnly.isEmpty() && readOnly[i] == QLatin1Char('1');
      const char kind = kinds[i].toLatin1();
      const char state = states[i].toLatin1();
      if (kind == 'm' || kind == 'v') {
        e.kind = Entry::Kind::kMp3;
        if (kind == 'v') {
          e.startTag = true;
          if (wholeTags) {
            if (tagAt >= tags.size() || tagAt >= newTags.size() || tagAt >= tagDigests.size() ||
                tagAt >= tagSizes.size()) {
              return false;
            }
            const QByteArray fresh = FromB64(newTags[tagAt]);
            DescribeRegions(e, FromB64(tags[tagAt]), fresh, !fresh.isEmpty());
            if (!fresh.isEmpty() && !e.InPlace()) return false;
            e.spansInRecord = e.InPlace();
            e.newDigest = tagDigests[tagAt].toString().toLatin1();
            e.newSize = tagSizes[tagAt].toInteger(-1);
          } else if (!tagColumns.Take(tagAt, e)) {
            return false;
          }
          ++tagAt;
          if (e.newDigest.isEmpty()) return false;
        }
        if (state == 'T' || state == 'N') {
          const bool tagged = state == 'T';
          if ((tagged && oldAt + 128 > olds.size()) || newAt + 128 > news.size()) return false;
          if (tagged) e.oldBlock = olds.mid(oldAt, 128);
          e.newBlock = news.mid(newAt, 128);
          oldAt += tagged ? 128 : 0;
          newAt += 128;
        }
      } else if (kind == 'w') {
        e.kind = Entry::Kind::kWma;
        if (state == 'I' || state == 'R') {
          if (wholeHeaders) {
            if (headerAt >= headers.size() || headerAt >= digests.size() ||
                headerAt >= newSizes.size()) {
              return false;
            }
            QByteArray fresh;
            if (state == 'I') {
              if (inPlaceAt >= newHeaders.size()) return false;
              fresh = FromB64(newHeaders[inPlaceAt++]);
            }
            DescribeRegions(e, FromB64(headers[headerAt]), fresh, state == 'I');
            if (e.InPlace() != (state == 'I')) return false;
            e.spansInRecord = e.InPlace();
            e.newDigest = digests[headerAt].toString().toLatin1();
            e.newSize = newSizes[headerAt].toInteger(-1);
          } else if (!headerColumns.Take(headerAt, e) || e.InPlace() != (state == 'I')) {
            return false;
          }
          ++headerAt;
        }
      } else if (kind == 'n' || kind == 'd') {
        if (!renames || i >= devices.size() || i >= inodes.size()) return false;
        e.identified = true;
        e.isFolder = kind == 'd';
        e.device = IdOf(devices[i]);
        e.inode = IdOf(inodes[i]);
      } else if (kind != 'r') {
        return false;
      }
      out.entries.push_back(std::move(e));
    }
    out.casePrefix = begin.value(QStringLiteral("tp")).toString();
  }
  for (const Entry& e : out.entries) out.untrusted.push_back(!Trusted(e));
  return true;
}

}  // namespace core
