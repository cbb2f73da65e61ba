#include "AppError.h"

#include "Platform.h"

#include <QtGlobal>

#include <exception>
#include <utility>

namespace {
int g_eventDepth = 0;

std::function<void(const QString&)>& ErrorHandler() {
  static std::function<void(const QString&)> handler;
  return handler;
}

struct DepthGuard {
  DepthGuard() { ++g_eventDepth; }
  ~DepthGuard() { --g_eventDepth; }
};
}  // namespace

void ShowAppError(const QString& text) {
  if (ErrorHandler()) {
    ErrorHandler()(text);
    return;
  }
  qWarning("%s: %s", qUtf8Printable(Platform::AppTitle()), qUtf8Printable(text));
}

void ShowAppError(const TAppError& error) {
  if (!error.Detail.isEmpty())
    qWarning("%s: %s", qUtf8Printable(Platform::AppTitle()), qUtf8Printable(error.Detail));
  ShowAppError(error.Message);
}

void SetAppErrorHandler(std::function<void(const QString& text)> handler) {
  ErrorHandler() = std::move(handler);
}

void RunEvent(const std::function<void()>& body) {
  QString message;
  QString detail;
  {
    DepthGuard guard;
    try {
      body();
      return;
    } catch (const TAppError& e) {
      if (g_eventDepth > 1) throw;
      message = e.Message;
      detail = e.Detail;
    } catch (const std::exception& e) {
      if (g_eventDepth > 1) throw;
      message = QString::fromUtf8(e.what());
    }
  }
  ShowAppError(TAppError(message, detail));
}

ModalScope::ModalScope() : savedDepth_(g_eventDepth) { g_eventDepth = 0; }

ModalScope::~ModalScope() { g_eventDepth = savedDepth_; }
