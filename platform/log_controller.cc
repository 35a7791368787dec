#include <sys/syscall.h>
#include <unistd.h>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "browserplatform/log.h"
#include "platform/no_destructor.h"
#include "platform/utf.h"

namespace {

// Writes lines of `min_level_` and above to stderr or to a file opened for appending.
class EnvironmentLogController final : public ILogController {
 public:
  EnvironmentLogController(DWORD min_level, FILE* out, bool owns_out)
      : min_level_(min_level), out_(out), owns_out_(owns_out) {}
  ~EnvironmentLogController() {
    if (owns_out_) std::fclose(out_);
  }
  EnvironmentLogController(const EnvironmentLogController&) = delete;
  EnvironmentLogController& operator=(const EnvironmentLogController&) = delete;

  // Parses "<level>:<destination>"; null when the value is absent or unusable.
  static EnvironmentLogController* FromEnvironment() {
    const char* value = std::getenv("BROWSER_STORAGE_LOG");
    if (value == nullptr) return nullptr;
    std::string text(value);
    size_t colon = text.find(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return nullptr;
    char* end = nullptr;
    unsigned long level = std::strtoul(text.c_str(), &end, 10);
    if (end != text.c_str() + colon || level > 0xFFFFFFFFul) return nullptr;
    std::string destination = text.substr(colon + 1);
    if (destination == "stderr") {
      static platform::NoDestructor<EnvironmentLogController> controller(static_cast<DWORD>(level),
                                                                         stderr, false);
      return controller.get();
    }
    FILE* file = std::fopen(destination.c_str(), "ae");
    if (file == nullptr) {
      std::fprintf(stderr, "BROWSER_STORAGE_LOG: cannot open %s for appending\n",
                   destination.c_str());
      return nullptr;
    }
    static platform::NoDestructor<EnvironmentLogController> controller(static_cast<DWORD>(level),
                                                                       file, true);
    return controller.get();
  }

  BOOL IsLogEnabled(DWORD level, const char16_t*) override { return level >= min_level_; }

  void WriteLog(DWORD level, const char16_t* category, const char16_t* text) override {
    std::string line = Prefix(level);
    line += platform::Utf16ToUtf8(category ? category : u"");
    line += ' ';
    line.append(static_cast<size_t>(indent_ > 0 ? indent_ * 2 : 0), ' ');
    line += platform::Utf16ToUtf8(text ? text : u"");
    // Some lines carry their own newline; every line ends in exactly one.
    while (!line.empty() && line.back() == '\n') line.pop_back();
    line += '\n';
    std::lock_guard<std::mutex> lock(mutex_);
    std::fwrite(line.data(), 1, line.size(), out_);
    std::fflush(out_);
  }

  void IndentIn() override { ++indent_; }
  void IndentOut() override { --indent_; }

 private:
  static std::string Prefix(DWORD level) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm parts{};
    localtime_r(&now.tv_sec, &parts);
    char buffer[96];
    std::snprintf(buffer, sizeof(buffer), "%04d-%02d-%02d %02d:%02d:%02d.%03ld %ld %u ",
                  parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                  parts.tm_min, parts.tm_sec, now.tv_nsec / 1000000,
                  static_cast<long>(syscall(SYS_gettid)), level);
    return buffer;
  }

  static thread_local int indent_;
  const DWORD min_level_;
  FILE* const out_;
  const bool owns_out_;
  std::mutex mutex_;
};

thread_local int EnvironmentLogController::indent_ = 0;

std::atomic<ILogController*> g_installed{nullptr};

ILogController* DefaultController() {
  static ILogController* const controller = EnvironmentLogController::FromEnvironment();
  return controller;
}

}  // namespace

ILogController* GetLogController() {
  ILogController* installed = g_installed.load(std::memory_order_acquire);
  return installed ? installed : DefaultController();
}

ILogController* SetLogController(ILogController* controller) {
  return g_installed.exchange(controller, std::memory_order_acq_rel);
}
