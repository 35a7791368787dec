// What the library writes under HKEY_CLASSES_ROOT: its own script (the AppID entries) and one
// script per creatable class.
#pragma once

#include <span>
#include <string>

#include "browserplatform/guid.h"
#include "module/registrar.h"

namespace registration {

// A creatable class as it is registered. ProgIDs are cut to the 39 characters COM allows.
struct ClassRegistration {
  const CLSID* clsid;
  const char16_t* clsid_text;  // the registry's spelling, braces included
  const char16_t* progid;
  const char16_t* version_independent_progid;
  const char16_t* friendly_name;
};

// The three classes, in the order they are registered.
std::span<const ClassRegistration> RegisteredClasses();

// The module's own script: "AppID\{AppID}" named "browserstorage", and
// "AppID\libbrowserstorage.so" pointing at it. `app_id` is the AppID's registry text.
Script ModuleScript(const std::u16string& app_id);

// A class's ProgID, version-independent ProgID and "CLSID\{clsid}" keys; `module_path` is the
// library's file, `module_guid` the AppID and type-library identifier's registry text.
Script ClassScript(const ClassRegistration& row, const std::u16string& module_path,
                   const std::u16string& module_guid);

}  // namespace registration
