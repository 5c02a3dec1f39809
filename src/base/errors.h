#pragma once
// The program's one small exception hierarchy. Each carries the exact text that the error box
// shows; the window procedure's single catch shows it and the message loop goes on.
#include <functional>
#include <stdexcept>
#include <string>

namespace qyr {

class AppError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A text that should have been a number.
class ConvertError : public AppError {
 public:
  using AppError::AppError;
};

// The settings file refused a write.
class IniFileError : public AppError {
 public:
  using AppError::AppError;
};

// The registry refused a write.
class RegistryError : public AppError {
 public:
  using AppError::AppError;
};

// Where an error goes that escapes an event handler of a hidden window (a socket's): the
// application points it at its error box. Without a sink the error is dropped.
using ErrorSink = std::function<void(const std::string& message)>;
void SetErrorSink(ErrorSink sink);
void ReportError(const std::string& message);

// The text of the error box: a full stop is added only when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

}  // namespace qyr
