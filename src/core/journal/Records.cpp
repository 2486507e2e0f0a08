#include "core/journal/Records.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <tuple>

#include "core/journal/Delta.h"
#include "core/utils/Base64.h"
#include "platform/Folder.h"

namespace core {
namespace {

const QString kRenameKind = QStringLiteral("rename");

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

// ---- The entries, kept compactly

namespace {

bool IsHexDigest(const QByteArray& d) {
  return d.size() == 64 && std::all_of(d.begin(), d.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
         });
}

}  // namespace

void EntryList::Add(const Entry& e) {
  Item item{};
  item.kind = static_cast<uint8_t>(e.kind);
  item.size = e.size;
  item.oldHeaderSize = e.oldHeaderSize;
  item.newSize = e.newSize;
  item.spanAt = e.spanAt;
  item.spanSize = e.spanSize;
  item.flags = (e.readOnly ? kReadOnly : 0) | (e.startTag ? kStartTag : 0) |
               (e.inPlace ? kInPlace : 0) | (e.spansInRecord ? kSpansInRecord : 0) |
               (e.identified ? kIdentified : 0) | (e.isFolder ? kIsFolder : 0);
  item.device = e.device;
  item.inode = e.inode;
  // Entries of one folder mostly come together: the last one is looked at first.
  if (items_.empty() || folders_[items_.back().folder] != e.folder) {
    auto [it, added] = folderIndex_.emplace(e.folder, static_cast<uint32_t>(folders_.size()));
    if (added) folders_.push_back(e.folder);
    item.folder = it->second;
  } else {
    item.folder = items_.back().folder;
  }
  const size_t need = e.name.size() + e.newName.size() + e.oldBlock.size() + e.newBlock.size() +
                      e.oldDigest.size() + e.newDigest.size() + e.oldDelta.size() +
                      e.oldSpan.size() + e.newSpan.size();
  if (blocks_.empty() || blocks_.back().size() + need > blocks_.back().capacity()) {
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(kBlock, need));
  }
  std::string& bytes = blocks_.back();
  item.block = static_cast<uint32_t>(blocks_.size() - 1);
  item.at = static_cast<uint32_t>(bytes.size());
  auto put = [&](Part part, const char* data, size_t size) {
    item.lengths[part] = static_cast<uint32_t>(size);
    bytes.append(data, size);
  };
  auto putBytes = [&](Part part, const QByteArray& b) {
    put(part, b.constData(), static_cast<size_t>(b.size()));
  };
  auto putDigest = [&](Part part, const QByteArray& d, Flag hex) {
    if (IsHexDigest(d)) {
      item.flags |= hex;
      putBytes(part, QByteArray::fromHex(d));
    } else {
      putBytes(part, d);
    }
  };
  put(kName, e.name.data(), e.name.size());
  put(kNewName, e.newName.data(), e.newName.size());
  putBytes(kOldBlock, e.oldBlock);
  putBytes(kNewBlock, e.newBlock);
  putDigest(kOldDigest, e.oldDigest, kOldHex);
  putDigest(kNewDigest, e.newDigest, kNewHex);
  putBytes(kDelta, e.oldDelta);
  putBytes(kOldSpan, e.oldSpan);
  putBytes(kNewSpan, e.newSpan);
  items_.push_back(item);
}

std::string_view EntryList::ViewOf(const Item& item, Part part) const {
  size_t at = item.at;
  for (int p = 0; p < part; ++p) at += item.lengths[p];
  return std::string_view(blocks_[item.block]).substr(at, item.lengths[part]);
}

QByteArray EntryList::PartOf(const Item& item, Part part) const {
  const std::string_view v = ViewOf(item, part);
  return QByteArray(v.data(), static_cast<qsizetype>(v.size()));
}

QByteArray EntryList::DigestOf(const Item& item, Part part, Flag hex) const {
  const QByteArray d = PartOf(item, part);
  return (item.flags & hex) != 0 ? d.toHex() : d;
}

Entry EntryList::At(size_t k) const {
  const Item& item = items_[k];
  Entry e;
  e.kind = static_cast<Entry::Kind>(item.kind);
  e.folder = folders_[item.folder];
  e.name = PartOf(item, kName).toStdString();
  e.newName = PartOf(item, kNewName).toStdString();
  e.size = item.size;
  e.readOnly = (item.flags & kReadOnly) != 0;
  e.oldBlock = PartOf(item, kOldBlock);
  e.newBlock = PartOf(item, kNewBlock);
  e.startTag = (item.flags & kStartTag) != 0;
  e.oldDigest = DigestOf(item, kOldDigest, kOldHex);
  e.newDigest = DigestOf(item, kNewDigest, kNewHex);
  e.oldDelta = PartOf(item, kDelta);
  e.oldHeaderSize = item.oldHeaderSize;
  e.newSize = item.newSize;
  e.inPlace = (item.flags & kInPlace) != 0;
  e.spansInRecord = (item.flags & kSpansInRecord) != 0;
  e.spanAt = item.spanAt;
  e.spanSize = item.spanSize;
  e.oldSpan = PartOf(item, kOldSpan);
  e.newSpan = PartOf(item, kNewSpan);
  e.identified = (item.flags & kIdentified) != 0;
  e.isFolder = (item.flags & kIsFolder) != 0;
  e.device = item.device;
  e.inode = item.inode;
  return e;
}

// ---- The begin record, written column by column

namespace {

// Writes JSON text to a sink in pieces.
class JsonOut {
 public:
  explicit JsonOut(const std::function<void(const char*, size_t)>& put) : put_(put) {}
  ~JsonOut() { Flush(); }

  void Raw(const char* text) { Add(text, std::strlen(text)); }
  void Add(const char* data, size_t size) {
    if (buffer_.size() + size > kBuffer) Flush();
    if (size > kBuffer) {
      put_(data, size);
    } else {
      buffer_.append(data, size);
    }
  }
  void Char(char c) {
    if (buffer_.size() + 1 > kBuffer) Flush();
    buffer_ += c;
  }
  // `,"key":`, without the comma before the first member.
  void Key(const char* key) {
    if (!first_) Char(',');
    first_ = false;
    Char('"');
    Raw(key);
    Raw("\":");
  }
  void Int(int64_t n) {
    char text[24];
    const int size = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(n));
    Add(text, static_cast<size_t>(size));
  }
  // A string of Latin-1 bytes, as QJsonDocument writes one.
  void Latin1(const char* data, size_t size) {
    Char('"');
    for (size_t i = 0; i < size; ++i) {
      const auto c = static_cast<unsigned char>(data[i]);
      if (c == '"' || c == '\\') {
        Char('\\');
        Char(static_cast<char>(c));
      } else if (c < 0x20) {
        char text[8];
        std::snprintf(text, sizeof text, "\\u%04x", c);
        Raw(text);
      } else if (c >= 0x80) {
        Char(static_cast<char>(0xC0 | (c >> 6)));
        Char(static_cast<char>(0x80 | (c & 0x3F)));
      } else {
        Char(static_cast<char>(c));
      }
    }
    Char('"');
  }
  void Latin1(const QByteArray& b) { Latin1(b.constData(), static_cast<size_t>(b.size())); }
  void Latin1(const std::string& s) { Latin1(s.data(), s.size()); }

  // Base64 text made of any number of pieces: B64Start, B64 for each piece, B64End.
  void B64Start() {
    Char('"');
    carried_ = 0;
  }
  void B64(const char* data, size_t size) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t i = 0; i < size; ++i) {
      carry_[carried_++] = static_cast<unsigned char>(data[i]);
      if (carried_ < 3) continue;
      const char four[4] = {
          kDigits[carry_[0] >> 2], kDigits[((carry_[0] & 3) << 4) | (carry_[1] >> 4)],
          kDigits[((carry_[1] & 15) << 2) | (carry_[2] >> 6)], kDigits[carry_[2] & 63]};
      Add(four, 4);
      carried_ = 0;
    }
  }
  void B64(std::string_view v) { B64(v.data(), v.size()); }
  void B64End() {
    if (carried_ > 0) {
      const QByteArray rest =
          QByteArray(reinterpret_cast<const char*>(carry_), carried_).toBase64();
      Add(rest.constData(), static_cast<size_t>(rest.size()));
    }
    carried_ = 0;
    Char('"');
  }

  void Flush() {
    if (!buffer_.empty()) put_(buffer_.data(), buffer_.size());
    buffer_.clear();
  }

 private:
  static constexpr size_t kBuffer = 64 << 10;
  const std::function<void(const char*, size_t)>& put_;
  std::string buffer_;
  bool first_ = true;
  unsigned char carry_[3] = {};
  int carried_ = 0;
};

}  // namespace

QJsonObject BeginBody::Head() const {
  return QJsonObject{{QStringLiteral("id"), id_},
                     {QStringLiteral("kind"), kind_},
                     {QStringLiteral("n"), static_cast<int>(entries_.size())}};
}

void BeginBody::Write(const std::function<void(const char*, size_t)>& put) const {
  using Item = EntryList::Item;
  const std::vector<Item>& items = entries_.items_;
  JsonOut out(put);
  bool anyReadOnly = false, anyOld = false, anyNew = false, anyTags = false, anyHeaders = false,
       anyIdentified = false;
  auto isTag = [](const Item& i) {
    return i.kind == static_cast<uint8_t>(Entry::Kind::kMp3) && (i.flags & EntryList::kStartTag);
  };
  auto isHeader = [](const Item& i) {
    return i.kind == static_cast<uint8_t>(Entry::Kind::kWma) && i.oldHeaderSize >= 0;
  };
  for (const Item& i : items) {
    anyReadOnly = anyReadOnly || (i.flags & EntryList::kReadOnly);
    anyOld = anyOld || i.lengths[EntryList::kOldBlock] > 0;
    anyNew = anyNew || i.lengths[EntryList::kNewBlock] > 0;
    anyTags = anyTags || isTag(i);
    anyHeaders = anyHeaders || isHeader(i);
    anyIdentified = anyIdentified || (i.flags & EntryList::kIdentified);
  }
  // Calls `each` on every entry's part `part`, as one base64 text.
  auto b64Column = [&](const char* key, EntryList::Part part, bool nulAfter) {
    out.Key(key);
    out.B64Start();
    for (const Item& i : items) {
      out.B64(entries_.ViewOf(i, part));
      if (nulAfter) out.B64("", 1);
    }
    out.B64End();
  };
  auto intColumn = [&](const char* key, const std::function<int64_t(const Item&)>& value,
                       const std::function<bool(const Item&)>& which = {}) {
    out.Key(key);
    out.Char('[');
    bool first = true;
    for (const Item& i : items) {
      if (which && !which(i)) continue;
      if (!first) out.Char(',');
      first = false;
      out.Int(value(i));
    }
    out.Char(']');
  };
  auto charColumn = [&](const char* key, const std::function<char(const Item&)>& value) {
    out.Key(key);
    out.Char('"');
    for (const Item& i : items) out.Char(value(i));
    out.Char('"');
  };

  out.Key("dl");
  out.Char('[');
  for (size_t f = 0; f < entries_.folders_.size(); ++f) {
    if (f > 0) out.Char(',');
    out.B64Start();
    out.B64(entries_.folders_[f].data(), entries_.folders_[f].size());
    out.B64End();
  }
  out.Char(']');
  intColumn("di", [](const Item& i) { return static_cast<int64_t>(i.folder); });
  b64Column("p", EntryList::kName, true);
  intColumn("s", [](const Item& i) { return i.size; });
  charColumn("k", [&](const Item& i) {
    const auto kind = static_cast<Entry::Kind>(i.kind);
    if (isTag(i)) return 'v';
    if (kind == Entry::Kind::kRename && (i.flags & EntryList::kIdentified)) {
      return (i.flags & EntryList::kIsFolder) ? 'd' : 'n';  // a folder or a file known by identity
    }
    return KindChar(kind);
  });
  charColumn("st", [&](const Item& i) {
    const auto kind = static_cast<Entry::Kind>(i.kind);
    if (kind == Entry::Kind::kMp3) {
      return i.lengths[EntryList::kNewBlock] == 0   ? '-'
             : i.lengths[EntryList::kOldBlock] == 0 ? 'N'
                                                    : 'T';
    }
    if (kind == Entry::Kind::kWma) {
      return i.oldHeaderSize < 0 ? '-' : (i.flags & EntryList::kInPlace) ? 'I' : 'R';
    }
    return 'r';
  });
  if (anyReadOnly) {
    charColumn("ro", [](const Item& i) { return (i.flags & EntryList::kReadOnly) ? '1' : '0'; });
  }
  if (anyIdentified) {
    // Device and inode numbers as texts: a 64-bit number does not survive a JSON double.
    auto idColumn = [&](const char* key, uint64_t Item::*id) {
      out.Key(key);
      out.Char('[');
      bool first = true;
      for (const Item& i : items) {
        if (!first) out.Char(',');
        first = false;
        out.Latin1(IdText(i.*id).toStdString());
      }
      out.Char(']');
    };
    idColumn("dv", &Item::device);
    idColumn("in", &Item::inode);
  }
  if (IsRenameKind(kind_)) {
    b64Column("to", EntryList::kNewName, true);
    out.Key("tp");
    out.Latin1(CaseTempPrefix(id_).toLatin1());
  }
  if (anyOld) b64Column("old", EntryList::kOldBlock, false);
  if (anyNew) b64Column("new", EntryList::kNewBlock, false);

  // The regions of the entries of one kind ('v': MP3 files whose ID3v2 tag changes; 'w': WMA
  // files), one element an entry: the old region as a delta, the digests and sizes, and for a
  // write in place where it starts, how many bytes it changes and, when they are few, those bytes.
  auto regions = [&](const char* prefix, const std::function<bool(const Item&)>& which) {
    auto key = [&](const char* name) { return std::string(prefix) + name; };
    auto strings = [&](const char* name, const std::function<void(const Item&)>& value) {
      out.Key(key(name).c_str());
      out.Char('[');
      bool first = true;
      for (const Item& i : items) {
        if (!which(i)) continue;
        if (!first) out.Char(',');
        first = false;
        value(i);
      }
      out.Char(']');
    };
    auto inPlace = [](const Item& i) { return (i.flags & EntryList::kInPlace) != 0; };
    // The spans are written while the record holds them and they are whole.
    auto spansHere = [&](const Item& i) {
      return inPlace(i) && (i.flags & EntryList::kSpansInRecord) &&
             i.lengths[EntryList::kOldSpan] == i.spanSize &&
             i.lengths[EntryList::kNewSpan] == i.spanSize;
    };
    auto b64 = [&](const Item& i, EntryList::Part part) {
      out.B64Start();
      out.B64(entries_.ViewOf(i, part));
      out.B64End();
    };
    strings("d", [&](const Item& i) { b64(i, EntryList::kDelta); });
    strings("h", [&](const Item& i) {
      out.Latin1(entries_.DigestOf(i, EntryList::kOldDigest, EntryList::kOldHex));
    });
    strings("g", [&](const Item& i) {
      out.Latin1(entries_.DigestOf(i, EntryList::kNewDigest, EntryList::kNewHex));
    });
    intColumn(
        key("q").c_str(), [](const Item& i) { return i.oldHeaderSize; }, which);
    intColumn(
        key("z").c_str(), [](const Item& i) { return i.newSize; }, which);
    intColumn(
        key("p").c_str(), [&](const Item& i) { return inPlace(i) ? i.spanAt : -1; }, which);
    intColumn(
        key("l").c_str(), [](const Item& i) { return i.spanSize; }, which);
    strings("so", [&](const Item& i) {
      if (spansHere(i)) {
        b64(i, EntryList::kOldSpan);
      } else {
        out.Raw("\"\"");
      }
    });
    strings("sn", [&](const Item& i) {
      if (spansHere(i)) {
        b64(i, EntryList::kNewSpan);
      } else {
        out.Raw("\"\"");
      }
    });
  };
  if (anyTags) regions("v", isTag);
  if (anyHeaders) regions("w", isHeader);
}

QJsonObject EncodeBegin(const QString& kind, const QString& id, const std::vector<Entry>& entries) {
  EntryList list;
  for (const Entry& e : entries) list.Add(e);
  const BeginBody body(kind, id, list);
  QByteArray text = "{";
  body.Write(
      [&](const char* data, size_t size) { text.append(data, static_cast<qsizetype>(size)); });
  text += '}';
  QJsonObject r = QJsonDocument::fromJson(text).object();
  const QJsonObject head = body.Head();
  for (auto it = head.begin(); it != head.end(); ++it) r.insert(it.key(), it.value());
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
