#include "manager/connection_state.h"

namespace callsink {

ConnectionState ConnectionState::FromStatus(const std::string& status) {
  if (status == "Y-N") return {"Halvern connected, Database disconnected", kIconAcdOnly};
  if (status == "N-Y") return {"Halvern disconnected, Database connected", kIconDatabaseOnly};
  if (status == "Y-Y") return {"Halvern connected, Database connected", kIconBoth};
  return {"Halvern disconnected, Database disconnected", kIconDown};
}

}  // namespace callsink
