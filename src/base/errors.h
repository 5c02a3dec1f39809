#pragma once
// The program's one small exception hierarchy. Each carries the exact text that the error box
// shows; the window procedure's single catch shows it and the message loop goes on.
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

// A typed text that the settings file cannot hold.
class UnsafeTextError : public AppError {
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

// The text of the error box: a full stop is added only when the last character sorts after ".".
std::string ErrorBoxText(const std::string& message);

}  // namespace qyr
