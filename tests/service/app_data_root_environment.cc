// Every test of this binary runs as a new account whose configuration folder does not exist
// yet, under one temporary home.
#include "tests/common/app_data_root.h"

namespace {

const auto* const kAppDataRoot = storage_test::AppDataRootEnvironment::Register(
    storage_test::AppDataRootEnvironment::Account::kFresh);

}  // namespace
