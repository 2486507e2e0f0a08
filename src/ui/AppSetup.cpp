#include "AppSetup.h"

#include <QCoreApplication>
#include <QFont>
#include <QFontDatabase>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "Rules.h"

// The window's pictures are compiled into the `ui` library; a static library has to register them
// by hand.
void InitUiResources() {
  static const bool done = [] {
    Q_INIT_RESOURCE(velomi);
    return true;
  }();
  (void)done;
}

namespace appsetup {

bool LoadQtTranslations(QCoreApplication& app) {
  auto* translator = new QTranslator(&app);
  if (!translator->load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                        QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  return QCoreApplication::installTranslator(translator);
}

void InstallFontSubstitutes() {
  const QStringList cjkSerif = {QStringLiteral("AR PL UMing CN"),
                                QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("WenQuanYi Micro Hei")};
  QFont::insertSubstitutions(QStringLiteral("宋体"), cjkSerif);
  QFont::insertSubstitutions(QStringLiteral("SimSun"), cjkSerif);
  QString sans = QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
  if (sans.isEmpty() || sans == QStringLiteral("MS Sans Serif"))
    sans = QStringLiteral("Sans Serif");
  QFont::insertSubstitutions(
      QStringLiteral("MS Sans Serif"),
      {sans, QStringLiteral("DejaVu Sans"), QStringLiteral("WenQuanYi Micro Hei")});
  // The About box's display font is a serif whose Latin letters take half an em, as those of the
  // CJK Ming fonts do.
  QFont::insertSubstitutions(QStringLiteral("GungsuhChe"),
                             {QStringLiteral("AR PL UMing CN"), QStringLiteral("Nimbus Roman"),
                              QStringLiteral("DejaVu Serif")});
}

void SetupApplication(QCoreApplication& app) {
  InitUiResources();
  QCoreApplication::setApplicationName(rules::kApplicationTitle);
  QCoreApplication::setApplicationVersion(QStringLiteral(VELOMI_VERSION));
  LoadQtTranslations(app);
  InstallFontSubstitutes();
}

}  // namespace appsetup
