// What the program sets up once for the whole application, before the window exists: Qt's own
// Chinese translations and the substitutes of the window's fonts. The tests call it too.
#pragma once

class QCoreApplication;

// Registers the pictures compiled into the window's library (the About picture, the icon). Safe to
// call more than once.
void InitUiResources();

namespace appsetup {

// Loads Qt's own zh_CN translations, so that standard buttons read 是 / 否 / 确定. Gives false when
// they are not installed; the buttons then read in English.
bool LoadQtTranslations(QCoreApplication& app);

// Maps the window's font names onto installed fonts: "宋体" onto the CJK serif fonts, "MS Sans
// Serif" onto the system's sans serif, the About box's display font onto a CJK serif.
void InstallFontSubstitutes();

// Names the application, loads the translations and installs the font substitutes.
void SetupApplication(QCoreApplication& app);

}  // namespace appsetup
