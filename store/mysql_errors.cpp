#include "store/mysql_errors.h"

#include <mysqld_error.h>

#include <algorithm>
#include <iterator>

namespace callsink::mysql_errors {

bool RefusesStatement(unsigned int code) {
  static constexpr unsigned int kRefused[] = {
      ER_BAD_NULL_ERROR,                   // 1048
      ER_DUP_ENTRY,                        // 1062
      ER_PARSE_ERROR,                      // 1064
      ER_WRONG_VALUE_COUNT_ON_ROW,         // 1136
      ER_WARN_NULL_TO_NOTNULL,             // 1263
      ER_WARN_DATA_OUT_OF_RANGE,           // 1264
      WARN_DATA_TRUNCATED,                 // 1265
      ER_TRUNCATED_WRONG_VALUE,            // 1292
      ER_INVALID_CHARACTER_STRING,         // 1300
      ER_DIVISION_BY_ZERO,                 // 1365
      ER_TRUNCATED_WRONG_VALUE_FOR_FIELD,  // 1366
      ER_ILLEGAL_VALUE_FOR_TYPE,           // 1367
      ER_DATA_TOO_LONG,                    // 1406
      ER_CONSTRAINT_FAILED,                // 4025
  };
  return std::find(std::begin(kRefused), std::end(kRefused), code) != std::end(kRefused);
}

bool KeepsSession(unsigned int code) {
  static constexpr unsigned int kSessionSound[] = {
      ER_DISK_FULL,                              // 1021
      ER_GET_ERRNO,                              // 1030: the engine's, e.g. no space
      ER_RECORD_FILE_FULL,                       // 1114
      ER_ERROR_DURING_COMMIT,                    // 1180
      ER_LOCK_WAIT_TIMEOUT,                      // 1205
      ER_LOCK_DEADLOCK,                          // 1213
      ER_OPTION_PREVENTS_STATEMENT,              // 1290: --read-only
      ER_TOO_MANY_CONCURRENT_TRXS,               // 1637
      ER_CANT_EXECUTE_IN_READ_ONLY_TRANSACTION,  // 1792
      ER_READ_ONLY_MODE,                         // 1836
  };
  return std::find(std::begin(kSessionSound), std::end(kSessionSound), code) !=
         std::end(kSessionSound);
}

}  // namespace callsink::mysql_errors
