#pragma once
// Errors raised inside an operation end the event that ran it; the
// application's top-level handler shows their text in a message box.
#include <QString>

#include <functional>
#include <stdexcept>

class TAppError : public std::runtime_error {
 public:
  explicit TAppError(const QString& message)
      : std::runtime_error(message.toStdString()), Message(message) {}
  QString Message;
};

// The application's top-level error handler: shows the text in a message box
// captioned with the application title.
void ShowAppError(const QString& text);

// Runs one event. An error raised inside it ends the event; the outermost event
// shows it once through ShowAppError, a nested event passes it on to the event
// that it runs inside, so the outer operation stops too.
void RunEvent(const std::function<void()>& body);
