#pragma once

#include <QValidator>

namespace callsink {

// Takes a text only while its UTF-8 form, the bytes the configuration store
// keeps, fits `max_bytes`: a key that would make it longer is refused. An
// edit's own length limit counts UTF-16 units, which a text of accented or
// other non-ASCII characters outgrows in bytes. GUI thread only.
class Utf8LengthValidator : public QValidator {
 public:
  Utf8LengthValidator(qsizetype max_bytes, QObject* parent);

  State validate(QString& input, int& position) const override;

 private:
  const qsizetype max_bytes_;
};

}  // namespace callsink
