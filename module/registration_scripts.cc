#include "module/registration_scripts.h"

#include <algorithm>
#include <iterator>

#include "browserstorage/storage_service.h"

namespace registration {
namespace {

using Removal = ScriptKey::Removal;

// The registry spelling of a CLSID must name the class it stands beside.
consteval bool Names(const char16_t* text, const CLSID& clsid) {
  size_t length = 0;
  while (text[length] != u'\0') ++length;
  GUID parsed{};
  return platform::guid_detail::Parse(text, length, &parsed) && parsed.Data1 == clsid.Data1 &&
         parsed.Data2 == clsid.Data2 && parsed.Data3 == clsid.Data3 &&
         std::equal(std::begin(parsed.Data4), std::end(parsed.Data4), std::begin(clsid.Data4));
}

constexpr ClassRegistration kClasses[] = {
    {&CLSID_CStorageService, u"{03A4959A-4358-4aee-97BF-872E253EE6BF}",
     u"CStorageService.CStorageService.1", u"CStorageService.CStorageService",
     u"CStorageService Object"},
    {&CLSID_CStorageServiceFactory, u"{0A986E84-F696-42aa-80B5-DB50D4F84485}",
     u"CStorageServiceFactory.CStorageServic.1", u"CStorageServiceFactory.CStorageServic",
     u"CStorageServiceFactory Object"},
    {&CLSID_CCoStorageConfig, u"{630D2AD6-C369-4b28-85DA-301CFBD0547F}",
     u"CCoStorageConfig.CCoStorageConfig.1", u"CCoStorageConfig.CCoStorageConfig",
     u"CCoStorageConfig Object"},
};
static_assert(Names(kClasses[0].clsid_text, CLSID_CStorageService));
static_assert(Names(kClasses[1].clsid_text, CLSID_CStorageServiceFactory));
static_assert(Names(kClasses[2].clsid_text, CLSID_CCoStorageConfig));

// COM's limit for a ProgID, which the factory's names were cut to.
constexpr size_t kMaxProgIdLength = 39;
consteval bool FitsProgId(const char16_t* text) {
  size_t length = 0;
  while (text[length] != u'\0') ++length;
  return length <= kMaxProgIdLength;
}
static_assert(FitsProgId(kClasses[1].progid) && FitsProgId(kClasses[1].version_independent_progid));

}  // namespace

std::span<const ClassRegistration> RegisteredClasses() { return kClasses; }

Script ModuleScript(const std::u16string& app_id) {
  return {
      ScriptKey{.name = u"AppID",
                .removal = Removal::kNoRemove,
                .subkeys =
                    {
                        ScriptKey{.name = app_id, .default_value = u"browserstorage"},
                        ScriptKey{.name = u"libbrowserstorage.so", .values = {{u"AppID", app_id}}},
                    }},
  };
}

Script ClassScript(const ClassRegistration& row, const std::u16string& module_path,
                   const std::u16string& module_guid) {
  const std::u16string clsid = row.clsid_text;
  return {
      ScriptKey{.name = row.progid,
                .default_value = row.friendly_name,
                .subkeys = {ScriptKey{.name = u"CLSID", .default_value = clsid}}},
      ScriptKey{.name = row.version_independent_progid,
                .default_value = row.friendly_name,
                .subkeys = {ScriptKey{.name = u"CLSID", .default_value = clsid},
                            ScriptKey{.name = u"CurVer", .default_value = row.progid}}},
      ScriptKey{
          .name = u"CLSID",
          .removal = Removal::kNoRemove,
          .subkeys = {ScriptKey{
              .name = clsid,
              .removal = Removal::kForceRemove,
              .default_value = row.friendly_name,
              .values = {{u"AppID", module_guid}},
              .subkeys =
                  {
                      ScriptKey{.name = u"ProgID", .default_value = row.progid},
                      ScriptKey{.name = u"VersionIndependentProgID",
                                .default_value = row.version_independent_progid},
                      ScriptKey{.name = u"Programmable", .removal = Removal::kForceRemove},
                      ScriptKey{.name = u"InprocServer32",
                                .default_value = module_path,
                                .values = {{u"ThreadingModel", u"free"}}},
                      ScriptKey{.name = u"TypeLib", .default_value = module_guid},
                  },
          }},
      },
  };
}

}  // namespace registration
