// The window's own rules: the title, the author's addresses, the status bar's panels and the text
// of the generic error box. The domain rules it shares with the command line are in core/Rules.h.
#pragma once

#include <QString>
#include <QUrl>
#include <vector>

#include "core/text/Rules.h"

namespace rules {

// The window's title, also the title of the generic error box.
inline const QString kApplicationTitle = QStringLiteral("VelomiMP3批量更名");

// The author's addresses, shown in the status bar and the About box.
inline const QString kAuthorWebText = QStringLiteral("www.example.com");
inline const QString kAuthorWebUrl = QStringLiteral("http://www.example.com/");
inline const QString kAuthorMail = QStringLiteral("velomi@example.com");
inline const QString kMailSubject = QStringLiteral("VelomiMP3批量更名软件用户意见或建议");

// ---- Status bar and messages

// The panel under x: panels are walked from the left; the last one reaches to the bar's right end
// and beyond. -1 when no panel is under x.
int StatusPanelAt(int x, const std::vector<int>& widths, int barWidth);

// The text of the generic error box: the message, with a "." added when its last character sorts
// after ".".
QString ErrorBoxText(const QString& message);

// The author's web site and a new message to the author (subject filled, empty copy line).
QUrl AuthorWebUrl();
QUrl AuthorMailUrl();

}  // namespace rules
