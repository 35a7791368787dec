// ICU collation for the user's locale, with one collator per thread and strength.
//
// A UCollator must not be used by two threads at once, so each thread opens its own. The
// locale lives in one process-wide setting; changing it bumps a generation number, and a
// thread whose collators are from an older generation reopens them on its next call. The
// fast path is one atomic load.
#include <unicode/ucol.h>

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "browserplatform/collation.h"
#include "browserplatform/oleauto.h"
#include "platform/collation_for_testing.h"
#include "platform/no_destructor.h"

namespace platform {
namespace {

std::string NormalizeLocaleName(std::string_view name) {
  std::string base(name.substr(0, name.find_first_of(".@")));
  if (base == "C" || base == "POSIX") return "";
  return base;
}

std::string LocaleFromEnvironment() {
  for (const char* variable : {"LC_ALL", "LC_COLLATE", "LANG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0') return NormalizeLocaleName(value);
  }
  return "";
}

class LocaleSetting {
 public:
  LocaleSetting() : environment_(LocaleFromEnvironment()) {}
  LocaleSetting(const LocaleSetting&) = delete;
  LocaleSetting& operator=(const LocaleSetting&) = delete;

  static LocaleSetting& Get() {
    static NoDestructor<LocaleSetting> setting;
    return *setting;
  }

  uint64_t generation() const { return generation_.load(std::memory_order_acquire); }

  // The locale together with the generation it belongs to.
  std::string Current(uint64_t* generation) const {
    std::lock_guard<std::mutex> lock(mu_);
    *generation = generation_.load(std::memory_order_relaxed);
    return override_ ? *override_ : environment_;
  }

  void Override(const char* locale) {
    std::lock_guard<std::mutex> lock(mu_);
    if (locale != nullptr) {
      override_ = NormalizeLocaleName(locale);
    } else {
      override_.reset();
    }
    generation_.fetch_add(1, std::memory_order_release);
  }

 private:
  const std::string environment_;
  mutable std::mutex mu_;
  std::optional<std::string> override_;  // guarded by mu_
  std::atomic<uint64_t> generation_{1};  // changes only under mu_
};

enum Strength { kTertiary, kSecondary, kStrengthCount };

struct CollatorCloser {
  void operator()(UCollator* collator) const { ucol_close(collator); }
};
using CollatorPtr = std::unique_ptr<UCollator, CollatorCloser>;

CollatorPtr OpenCollator(const std::string& locale, Strength strength) {
  CollatorPtr collator;
  for (const char* id : {locale.c_str(), ""}) {
    UErrorCode status = U_ZERO_ERROR;
    collator.reset(ucol_open(id, &status));
    if (U_SUCCESS(status) && collator) break;
    collator.reset();
  }
  if (collator) {
    ucol_setStrength(collator.get(), strength == kTertiary ? UCOL_TERTIARY : UCOL_SECONDARY);
  }
  return collator;
}

class ThreadCollators {
 public:
  // The calling thread's collator for the current locale; null if ICU cannot open one.
  UCollator* Get(Strength strength) {
    LocaleSetting& setting = LocaleSetting::Get();
    if (setting.generation() != generation_) {
      locale_ = setting.Current(&generation_);
      for (auto& slot : slots_) slot = Slot();
    }
    Slot& slot = slots_[strength];
    if (!slot.tried) {
      slot.tried = true;
      slot.collator = OpenCollator(locale_, strength);
    }
    return slot.collator.get();
  }

 private:
  struct Slot {
    bool tried = false;
    CollatorPtr collator;
  };
  uint64_t generation_ = 0;
  std::string locale_;
  std::array<Slot, kStrengthCount> slots_;
};

thread_local ThreadCollators t_collators;

// ICU takes 32-bit lengths; longer text (and a missing collator) falls back to code units.
bool FitsIcu(std::u16string_view text) { return text.size() <= static_cast<size_t>(INT32_MAX); }

const UChar* DataOf(std::u16string_view text) { return text.empty() ? u"" : text.data(); }

int CompareCodeUnits(std::u16string_view a, std::u16string_view b) {
  const int result = a.compare(b);
  return (result > 0) - (result < 0);
}

int CompareAt(Strength strength, std::u16string_view a, std::u16string_view b) {
  UCollator* collator = t_collators.Get(strength);
  if (collator == nullptr || !FitsIcu(a) || !FitsIcu(b)) return CompareCodeUnits(a, b);
  switch (ucol_strcoll(collator, DataOf(a), static_cast<int32_t>(a.size()), DataOf(b),
                       static_cast<int32_t>(b.size()))) {
    case UCOL_LESS:
      return -1;
    case UCOL_GREATER:
      return 1;
    default:
      return 0;
  }
}

// Big-endian code units: byte order equals code-unit order.
std::string CodeUnitSortKey(std::u16string_view text) {
  std::string key;
  key.reserve(text.size() * 2);
  for (char16_t unit : text) {
    key.push_back(static_cast<char>(unit >> 8));
    key.push_back(static_cast<char>(unit & 0xFF));
  }
  return key;
}

}  // namespace

std::string CollationLocale() {
  uint64_t generation;
  return LocaleSetting::Get().Current(&generation);
}

void SetCollationLocaleForTesting(const char* locale) { LocaleSetting::Get().Override(locale); }

int CollationCompare(std::u16string_view a, std::u16string_view b) {
  return CompareAt(kTertiary, a, b);
}

std::string CollationSortKey(std::u16string_view text) {
  UCollator* collator = t_collators.Get(kTertiary);
  if (collator == nullptr || !FitsIcu(text)) return CodeUnitSortKey(text);
  const auto length = static_cast<int32_t>(text.size());
  std::string key(64, '\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    const int32_t needed =
        ucol_getSortKey(collator, DataOf(text), length, reinterpret_cast<uint8_t*>(key.data()),
                        static_cast<int32_t>(key.size()));
    if (needed <= 0) break;
    if (static_cast<size_t>(needed) <= key.size()) {
      // ICU ends the key with a zero byte that no other byte of it can be; drop it.
      key.resize(static_cast<size_t>(needed) - 1);
      return key;
    }
    key.resize(static_cast<size_t>(needed));
  }
  return CodeUnitSortKey(text);
}

}  // namespace platform

HRESULT VarBstrCmp(BSTR left, BSTR right, LCID /*lcid*/, ULONG flags) {
  const UINT left_length = SysStringLen(left);
  const UINT right_length = SysStringLen(right);
  if (left_length == 0) return right_length == 0 ? VARCMP_EQ : VARCMP_LT;
  if (right_length == 0) return VARCMP_GT;
  const int result = platform::CompareAt(
      (flags & NORM_IGNORECASE) != 0 ? platform::kSecondary : platform::kTertiary,
      {left, left_length}, {right, right_length});
  return result < 0 ? VARCMP_LT : result > 0 ? VARCMP_GT : VARCMP_EQ;
}
