#include "store/mysql_result.h"

namespace callsink {

MySqlResult::~MySqlResult() {
  if (result_ != nullptr) mysql_free_result(result_);
}

}  // namespace callsink
