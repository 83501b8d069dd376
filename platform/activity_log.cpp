#include "platform/activity_log.h"

#include <cstdarg>

namespace callsink {
namespace {

bool IsControl(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte < 0x20 || byte == 0x7f;
}

}  // namespace

ActivityLog::ActivityLog(Clock clock) : clock_(clock) {}

ActivityLog::~ActivityLog() { Close(); }

std::string ActivityLog::FileName(const std::string& name) {
  std::string file_name = name.substr(0, kMaxNameLength);
  for (char& c : file_name) {
    if (c == '/' || IsControl(c)) c = '_';
  }
  if (file_name.starts_with('.')) file_name[0] = '_';
  return "logs/acd_" + file_name + ".log";
}

std::string ActivityLog::Printable(std::string_view text) {
  std::string printable;
  printable.reserve(text.size());
  for (const char c : text) {
    if (!IsControl(c)) {
      printable += c;
      continue;
    }
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
    printable += escaped;
  }
  return printable;
}

bool ActivityLog::Open(const std::string& name) {
  Close();
  file_ = std::fopen(FileName(name).c_str(), "a+e");
  return file_ != nullptr;
}

void ActivityLog::Write(const char* format, ...) {
  if (file_ == nullptr) return;
  char message[kMaxMessageLength + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);

  const std::time_t now = clock_ != nullptr ? clock_() : std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char date[40];
  char time_of_day[40];
  std::snprintf(date, sizeof date, "%02d/%02d/%02d", local.tm_mon + 1, local.tm_mday,
                local.tm_year % 100);
  std::snprintf(time_of_day, sizeof time_of_day, "%02d:%02d:%02d", local.tm_hour, local.tm_min,
                local.tm_sec);

  const std::lock_guard<std::mutex> lock(write_mutex_);
  if (last_date_ != date) {
    last_date_ = date;
    std::fprintf(file_, "------------------- Date: %s -------------------\r\n", date);
  }
  std::fprintf(file_, "%s: %s\r\n", time_of_day, message);
  std::fflush(file_);
}

void ActivityLog::Close() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace callsink
