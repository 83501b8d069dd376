#include "manager/window/utf8_length_validator.h"

namespace callsink {

Utf8LengthValidator::Utf8LengthValidator(qsizetype max_bytes, QObject* parent)
    : QValidator(parent), max_bytes_(max_bytes) {}

QValidator::State Utf8LengthValidator::validate(QString& input, int& /*position*/) const {
  return input.toUtf8().size() <= max_bytes_ ? Acceptable : Invalid;
}

}  // namespace callsink
