// The program's entry: the application, then the main window until it closes.
#include <QApplication>
#include <QIcon>

#include "AppSetup.h"
#include "Unit1.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  appsetup::SetupApplication(app);
  QGuiApplication::setDesktopFileName(QStringLiteral(VELOMI_APP_ID));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/velomi/velomi.png")));
  TForm1 form;
  form.show();
  return app.exec();
}
