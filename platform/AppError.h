#pragma once
// Errors raised inside an operation end the event that ran it; the
// application's top-level handler shows their text in a message box.
#include <QString>

#include <functional>
#include <stdexcept>

class TAppError : public std::runtime_error {
 public:
  explicit TAppError(const QString& message, const QString& detail = QString())
      : std::runtime_error(message.toStdString()), Message(message), Detail(detail) {}
  // What the user reads.
  QString Message;
  // The technical account (a library's own text, the statement that failed),
  // for the standard error stream only; often empty.
  QString Detail;
};

// The application's top-level error handler: shows the text in a message box
// captioned with the application title. The box belongs to the desktop layer
// (Shell), which installs itself as the handler; without it the text goes to
// the standard error stream.
void ShowAppError(const QString& text);
// Shows the error's message; its technical detail, when it has one, goes to
// the standard error stream.
void ShowAppError(const TAppError& error);
void SetAppErrorHandler(std::function<void(const QString& text)> handler);

// Runs one event. An error raised inside it ends the event; the outermost event
// shows it once through ShowAppError, a nested event passes it on to the event
// that it runs inside, so the outer operation stops too.
void RunEvent(const std::function<void()>& body);

// While a modal loop runs inside an event (a dialog, a message box, the player
// window), the events it delivers are events of their own: an error in one of
// them is shown there, not passed to the event that opened the loop. The same
// holds for an event that Qt delivers from code that cannot carry an error on
// (the main window's show event).
class ModalScope {
 public:
  ModalScope();
  ~ModalScope();
  ModalScope(const ModalScope&) = delete;
  ModalScope& operator=(const ModalScope&) = delete;

 private:
  int savedDepth_;
};
