// The desktop's side on freedesktop systems: the file manager over D-Bus.
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QPointer>

#include "Shell.h"

namespace shell {

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

}  // namespace shell
