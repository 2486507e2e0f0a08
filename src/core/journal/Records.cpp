#include "core/journal/Records.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <map>

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

// The state of an entry in the column "st": for an MP3 save 'T' (a tag was there), 'N' (the block
// is appended) or '-' (unreadable); for a WMA save 'I' (in place), 'R' (replaced) or '-'.
char StateChar(const Entry& e) {
  if (e.kind == Entry::Kind::kMp3) {
    return e.newBlock.isEmpty() ? '-' : e.oldBlock.isEmpty() ? 'N' : 'T';
  }
  if (e.kind == Entry::Kind::kWma) return e.oldHeader.isEmpty() ? '-' : e.InPlace() ? 'I' : 'R';
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

// The entries of a begin record of the first version, which kept paths as they were typed, and
// for a WMA save the size and digest of the header written only in its done record.
bool DecodeFirstVersion(const QJsonObject& begin, const std::optional<QJsonObject>& done,
                        std::vector<Entry>& entries) {
  const int n = begin.value(QStringLiteral("n")).toInt();
  const std::vector<std::string> paths = SplitNul(begin.value(QStringLiteral("p")));
  const QJsonArray sizes = begin.value(QStringLiteral("s")).toArray();
  if (static_cast<int>(paths.size()) != n || sizes.size() != n) return false;
  if (begin.value(QStringLiteral("kind")).toString() == kRenameKind) {
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
        e.oldHeader = FromB64(headers[headerAt++]);
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

QByteArray Digest(const QByteArray& bytes) {
  return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

QString CaseTempPrefix(const QString& id) {
  return QStringLiteral(".velomi-rename-") + id.left(8) + QLatin1Char('-');
}

std::string CaseTempName(const QString& prefix, size_t k) {
  return prefix.toStdString() + std::to_string(k) + ".tmp";
}

int64_t RecordSize(const std::vector<Entry>& entries) {
  int64_t bytes = 0;
  for (const Entry& e : entries) {
    bytes += static_cast<int64_t>(e.name.size() + e.newName.size()) + e.oldBlock.size() +
             e.newBlock.size() + e.oldHeader.size() + e.newHeader.size() + 80;
  }
  return bytes * 4 / 3;
}

QJsonObject EncodeBegin(const QString& kind, const QString& id, const std::vector<Entry>& entries) {
  std::map<std::string, int> folderIndex;
  QJsonArray folders, folderOf, sizes, headers, newHeaders, digests, newSizes;
  QJsonArray tags, newTags, tagDigests, tagSizes;  // the ID3v2 tags of 'v' entries
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
    kinds += e.kind == Entry::Kind::kMp3 && e.startTag ? 'v' : KindChar(e.kind);
    states += StateChar(e);
    readOnly += e.readOnly ? '1' : '0';
    anyReadOnly = anyReadOnly || e.readOnly;
    olds += e.oldBlock;
    news += e.newBlock;
    if (e.kind == Entry::Kind::kWma && !e.oldHeader.isEmpty()) {
      headers.append(QString::fromLatin1(e.oldHeader.toBase64()));
      if (e.InPlace()) newHeaders.append(QString::fromLatin1(e.newHeader.toBase64()));
      digests.append(QString::fromLatin1(e.newDigest));
      newSizes.append(static_cast<qint64>(e.newSize));
    }
    if (e.kind == Entry::Kind::kMp3 && e.startTag) {
      tags.append(QString::fromLatin1(e.oldHeader.toBase64()));
      newTags.append(QString::fromLatin1(e.newHeader.toBase64()));
      tagDigests.append(QString::fromLatin1(e.newDigest));
      tagSizes.append(static_cast<qint64>(e.newSize));
    }
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
  if (kind == kRenameKind) {
    r.insert(QStringLiteral("to"), B64(newNames));
    r.insert(QStringLiteral("tp"), CaseTempPrefix(id));
  }
  if (!olds.isEmpty()) r.insert(QStringLiteral("old"), QString::fromLatin1(olds.toBase64()));
  if (!news.isEmpty()) r.insert(QStringLiteral("new"), QString::fromLatin1(news.toBase64()));
  if (!headers.isEmpty()) {
    r.insert(QStringLiteral("h"), headers);
    r.insert(QStringLiteral("hn"), newHeaders);
    r.insert(QStringLiteral("g"), digests);
    r.insert(QStringLiteral("z"), newSizes);
  }
  if (!tags.isEmpty()) {
    r.insert(QStringLiteral("vo"), tags);
    r.insert(QStringLiteral("vn"), newTags);
    r.insert(QStringLiteral("vg"), tagDigests);
    r.insert(QStringLiteral("vz"), tagSizes);
  }
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
    const QJsonArray headers = begin.value(QStringLiteral("h")).toArray();
    const QJsonArray newHeaders = begin.value(QStringLiteral("hn")).toArray();
    const QJsonArray digests = begin.value(QStringLiteral("g")).toArray();
    const QJsonArray newSizes = begin.value(QStringLiteral("z")).toArray();
    const QJsonArray tags = begin.value(QStringLiteral("vo")).toArray();
    const QJsonArray newTags = begin.value(QStringLiteral("vn")).toArray();
    const QJsonArray tagDigests = begin.value(QStringLiteral("vg")).toArray();
    const QJsonArray tagSizes = begin.value(QStringLiteral("vz")).toArray();
    const bool renames = begin.value(QStringLiteral("kind")).toString() == kRenameKind;
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
          if (tagAt >= tags.size() || tagAt >= newTags.size() || tagAt >= tagDigests.size() ||
              tagAt >= tagSizes.size()) {
            return false;
          }
          e.startTag = true;
          e.oldHeader = FromB64(tags[tagAt]);
          e.newHeader = FromB64(newTags[tagAt]);
          e.newDigest = tagDigests[tagAt].toString().toLatin1();
          e.newSize = tagSizes[tagAt].toInteger(-1);
          ++tagAt;
          if (e.InPlace() && e.newHeader.size() != e.oldHeader.size()) return false;
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
          if (headerAt >= headers.size() || headerAt >= digests.size() ||
              headerAt >= newSizes.size()) {
            return false;
          }
          e.oldHeader = FromB64(headers[headerAt]);
          e.newDigest = digests[headerAt].toString().toLatin1();
          e.newSize = newSizes[headerAt].toInteger(-1);
          ++headerAt;
          if (state == 'I') {
            if (inPlaceAt >= newHeaders.size()) return false;
            e.newHeader = FromB64(newHeaders[inPlaceAt++]);
            if (e.newHeader.size() != e.oldHeader.size()) return false;
          }
        }
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
