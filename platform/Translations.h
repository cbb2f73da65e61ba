#pragma once
// Qt's own texts (the standard dialogs, message-box buttons, the context menus
// of edits) in Chinese, like the rest of the user interface, whatever the
// system's language.

namespace Platform {

// The file name of Qt's Chinese translation shipped beside the executable.
inline constexpr char kQtTranslationFile[] = "qtbase_zh_CN.qm";

// Loads qtbase_zh_CN.qm from the executable's folder, or failing that from
// Qt's own translations folder, into the application (replacing what an
// earlier call loaded). It also turns off the desktop's native file dialogs,
// which follow the system's language rather than the program's, and makes
// Chinese (China) Qt's default locale, in which the file dialogs show dates and
// file types (numbers the program reads or writes never use the default
// locale). Needs the application object; returns whether a translation was
// loaded.
bool LoadQtTranslations();

}  // namespace Platform
