// Every test of this binary builds paths under one temporary application-data root.
#include "tests/common/app_data_root.h"

namespace {

const auto* const kAppDataRoot = storage_test::AppDataRootEnvironment::Register();

}  // namespace
