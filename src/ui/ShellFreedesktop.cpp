// The desktop's side on freedesktop systems: the file manager over D-Bus, and a file's facts
// by its bytes.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

#include <sys/stat.h>
#include <unistd.h>

#include "Shell.h"

namespace shell {
namespace {

QDateTime TimeOf(const timespec& at) {
  return QDateTime::fromMSecsSinceEpoch(qint64(at.tv_sec) * 1000 + at.tv_nsec / 1000000);
}

}  // namespace

bool ShowFileProperties(const std::string& path, QWidget* owner) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    ShowOwnProperties(path, owner);
    return true;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.FileManager1"),
      QStringLiteral("/org/freedesktop/FileManager1"),
      QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItemProperties"));
  call.setArguments(PropertiesArguments(path));
  // Asked without blocking: a file manager that is started on demand may take a moment, and the
  // window stays responsive meanwhile.
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 10000), owner);
  QPointer<QWidget> guardedOwner(owner);
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [watcher, path, guardedOwner] {
                     if (watcher->isError() && guardedOwner) ShowOwnProperties(path, guardedOwner);
                     watcher->deleteLater();
                   });
  return true;
}

FileFacts FactsOf(const std::string& path) {
  FileFacts facts;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return facts;
  facts.exists = true;
  facts.size = static_cast<qint64>(st.st_size);
  facts.modified = TimeOf(st.st_mtim);
  facts.accessed = TimeOf(st.st_atim);
  facts.writable = ::access(path.c_str(), W_OK) == 0;
  return facts;
}

}  // namespace shell
