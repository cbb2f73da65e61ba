#include "Translations.h"

#include "Platform.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QPointer>
#include <QTranslator>

namespace Platform {

namespace {

// Texts that Qt's Chinese catalogue lacks: the type column of the file
// dialogs names folders and drives with them.
class MissingQtTexts : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char* context, const char* sourceText, const char* /*disambiguation*/,
                    int /*n*/) const override {
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return QString();
    if (qstrcmp(sourceText, "Folder") == 0) return QStringLiteral("文件夹");
    if (qstrcmp(sourceText, "Drive") == 0) return QStringLiteral("驱动器");
    return QString();
  }
};

}  // namespace

bool LoadQtTranslations() {
  QCoreApplication* app = QCoreApplication::instance();
  if (!app) return false;
  QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  // Dates and file types in the file dialogs follow the default locale.
  QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));

  // Owned by the application object, so gone with it.
  static QPointer<QTranslator> missing;
  if (!missing) {
    missing = new MissingQtTexts(app);
    QCoreApplication::installTranslator(missing);
  }
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
