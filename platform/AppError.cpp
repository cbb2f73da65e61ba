#include "AppError.h"

#include "Platform.h"
#include "Shell.h"

#include <exception>

namespace {
int g_eventDepth = 0;

struct DepthGuard {
  DepthGuard() { ++g_eventDepth; }
  ~DepthGuard() { --g_eventDepth; }
};
}  // namespace

void ShowAppError(const QString& text) { Shell::MessageBox(nullptr, text, Platform::AppTitle()); }

void RunEvent(const std::function<void()>& body) {
  QString message;
  {
    DepthGuard guard;
    try {
      body();
      return;
    } catch (const TAppError& e) {
      if (g_eventDepth > 1) throw;
      message = e.Message;
    } catch (const std::exception& e) {
      if (g_eventDepth > 1) throw;
      message = QString::fromUtf8(e.what());
    }
  }
  ShowAppError(message);
}

ModalScope::ModalScope() : savedDepth_(g_eventDepth) { g_eventDepth = 0; }

ModalScope::~ModalScope() { g_eventDepth = savedDepth_; }
