#include "Translations.h"

#include "Platform.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

namespace Platform {

bool LoadQtTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);

  // Owned by the application object, so gone with it.
  static QPointer<QTranslator> loaded;
  if (loaded) {
    QCoreApplication::removeTranslator(loaded);
    delete loaded;
  }
  auto* translator = new QTranslator(app);
  const QString name = QString::fromLatin1(kQtTranslationFile);
  if (!translator->load(name, ExeDir()) &&
      !translator->load(name, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  loaded = translator;
  return true;
}

}  // namespace Platform
