// The error type of the application's data layer (tables, files). Its
// message is user-facing: windows show it as it stands.
#pragma once

#include <QString>
#include <stdexcept>

namespace tessaly {

class EDataError : public std::runtime_error {
 public:
  explicit EDataError(const QString& message)
      : std::runtime_error(message.toStdString()), FMessage(message) {}
  const QString& Message() const noexcept { return FMessage; }

 private:
  QString FMessage;
};

// The message of any exception as a QString (UTF-8 for std::exception).
inline QString ExceptionMessage(const std::exception& e) {
  if (const auto* d = dynamic_cast<const EDataError*>(&e)) return d->Message();
  return QString::fromUtf8(e.what());
}

}  // namespace tessaly
