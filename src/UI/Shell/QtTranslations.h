#pragma once
// Qt's own Chinese texts: the standard buttons ("确定", "取消"), the file
// dialog ("查找范围", "选择") and the other texts Qt draws itself. The
// interface is Chinese whatever the system's language, so Chinese is loaded
// always, from Qt's translations folder (Debian's qt6-translations-l10n),
// and Chinese is the default locale.

class QCoreApplication;
class QTranslator;

namespace pallix {

// Installs the translator into `app` (which owns it); none when the
// translation file is missing, and the texts stay English.
QTranslator* installQtTranslations(QCoreApplication& app);

} // namespace pallix
