# The unit's text lives in acd-service.service.in, in one place: the
# collector builds it in for "callsink -register" (service_unit_template.h),
# and the Debian package ships it filled in for its own layout
# (CALLSINK_SHIPPED_UNIT), a text the unit test compares with what the
# collector makes of the same values.
set(unit_template_file ${CMAKE_CURRENT_LIST_DIR}/acd-service.service.in)
file(READ ${unit_template_file} unit_template)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${unit_template_file})
file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/generated/packaging/service_unit_template.h CONTENT
"// Generated from packaging/acd-service.service.in.
#pragma once

namespace callsink {

inline constexpr char kServiceUnitTemplate[] = R\"unit(${unit_template})unit\";

}  // namespace callsink
")
add_library(callsink_unit_template INTERFACE)
target_include_directories(callsink_unit_template INTERFACE ${CMAKE_BINARY_DIR}/generated)

set(CALLSINK_PACKAGED_EXECUTABLE /usr/lib/callsink/callsink)
set(CALLSINK_PACKAGED_ACCOUNT callsink)
set(CALLSINK_PACKAGED_LOG_FOLDER /var/log/callsink)
set(CALLSINK_SHIPPED_UNIT ${CMAKE_BINARY_DIR}/packaging/acd-service.service)
string(REPLACE "@DESCRIPTION@" "Collects ACD call and status statistics" shipped_unit
  "${unit_template}")
string(REPLACE "@EXEC_START@" "\"${CALLSINK_PACKAGED_EXECUTABLE}\" \"-name=ACD Service\""
  shipped_unit "${shipped_unit}")
string(REPLACE "@ACCOUNT@" ${CALLSINK_PACKAGED_ACCOUNT} shipped_unit "${shipped_unit}")
string(REPLACE "@LOG_FOLDER@" ${CALLSINK_PACKAGED_LOG_FOLDER} shipped_unit "${shipped_unit}")
file(GENERATE OUTPUT ${CALLSINK_SHIPPED_UNIT} CONTENT "${shipped_unit}")
