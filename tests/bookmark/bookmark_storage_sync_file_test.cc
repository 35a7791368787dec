// The bookmark file's synchroniser: import with its backup, writes, and the backup sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "browserplatform/clock.h"
#include "browserstorage/storage_service.h"
#include "storage/bookmark/bookmark_comparers.h"
#include "storage/bookmark/bookmark_storage_sync_file.h"
#include "storage/sync/storage_config_base.h"
#include "tests/bookmark/bookmark_test_util.h"
#include "tests/common/eventually.h"
#include "tests/common/temp_folder.h"

namespace {

using bookmark_test::Bstr;
using bookmark_test::Folder;
using bookmark_test::Link;
using platform_test::ReadNative;
using platform_test::WriteNative;
using Storage::CBookmarkTreeModel;

class BookmarkSyncFileTest : public testing::Test {
 protected:
  // A model kept by the file "bookmark_v2" of the folder, imported before it returns.
  base::scoped_refptr<CBookmarkTreeModel> Open() {
    base::scoped_refptr<Storage::CStorageConfigBase> config(new Storage::CStorageConfigBase());
    config->SetFilePath(folder_.Wide("bookmark_v2"));
    config->SetStorageType(Storage::kStorageTypeBookmarkTree);
    config->SetCacheKind(Storage::kCacheKindFull);
    config->SetSyncKind(Storage::kSyncKindTextFile);
    config->SetImportOnCreate(1);
    base::scoped_refptr<CBookmarkTreeModel> model(
        new CBookmarkTreeModel(config.get(), nullptr, nullptr));
    EXPECT_NE(nullptr, model->synchroniser());
    return model;
  }

  static std::string Shape(CBookmarkTreeModel* model) {
    ATL::CComPtr<IObjectList> root;
    model->GetRoot(root.Receive());
    return bookmark_test::Shape(root);
  }

  static ULONG ImportFailed(CBookmarkTreeModel* model) {
    ULONG failed = 9;
    EXPECT_EQ(S_OK, model->IsImportFailed(&failed));
    return failed;
  }

  // Waits until the tick count moves on, so that the next write takes a backup.
  static void NextTick() {
    const DWORD now = GetTickCount();
    ASSERT_TRUE(testing_support::Eventually([&] { return GetTickCount() != now; }));
  }

  std::string Main() const { return ReadNative(folder_.Native("bookmark_v2")); }
  std::string Backup() const { return ReadNative(folder_.Native("bookmark_v2.bak")); }

  platform_test::TempFolder folder_;
};

TEST_F(BookmarkSyncFileTest, TheTreeSurvivesAndEachWriteBacksUpThePreviousFile) {
  {
    base::scoped_refptr<CBookmarkTreeModel> model = Open();
    EXPECT_EQ(1u, ImportFailed(model.get()));  // no file yet
    ASSERT_EQ(S_OK, model->Add(Folder(u"f"), Bstr(u"f"), nullptr, -1));
    ASSERT_EQ(S_OK, model->Add(Link(u"a"), Bstr(u"a"), Bstr(u"f"), -1));
    model->synchroniser()->performSync();
    const std::string first = Main();
    ASSERT_NE("", first);
    EXPECT_EQ(folder_.Names(), (std::set<std::string>{"bookmark_v2"}));

    // Nothing pending: nothing written, no backup.
    NextTick();
    model->synchroniser()->performSync();
    EXPECT_EQ(folder_.Names(), (std::set<std::string>{"bookmark_v2"}));

    NextTick();
    ASSERT_EQ(S_OK, model->Move(Bstr(u"a"), nullptr, 1));
    ASSERT_EQ(S_OK, model->Update(Bstr(u"a"), Link(u"a", u"http://changed/")));
    model->synchroniser()->performSync();
    EXPECT_EQ(first, Backup());
    EXPECT_NE(first, Main());

    ASSERT_EQ(S_OK, model->BeginTransaction());
    ASSERT_EQ(S_OK, model->Add(Link(u"t"), Bstr(u"t"), Bstr(u"f"), 1));
    ASSERT_EQ(S_OK, model->EndTransaction(1));
    ASSERT_EQ(S_OK,
              model->Sort(Bstr(u"f"), Storage::NewComparer<Storage::CBookmarkNameComparer>(), 0));
    // The final sync writes what is pending.
  }
  base::scoped_refptr<CBookmarkTreeModel> model = Open();
  EXPECT_EQ(0u, ImportFailed(model.get()));
  EXPECT_EQ("a,f(t)", Shape(model.get()));
  BOOL found = 0;
  EXPECT_EQ(S_OK, model->IsBookmarkByURL(Bstr(u"http://changed/"), &found));
  EXPECT_EQ(1, found);
}

TEST_F(BookmarkSyncFileTest, ABrokenFileLoadsTheBackupAndTheBackupIsKeptUntilAWrite) {
  {
    base::scoped_refptr<CBookmarkTreeModel> model = Open();
    ASSERT_EQ(S_OK, model->Add(Link(u"good"), Bstr(u"good"), nullptr, -1));
  }
  const std::string good = Main();
  WriteNative(folder_.Native("bookmark_v2.bak"), good);
  std::string broken = good;
  broken.replace(broken.find("id=\"good\""), 9, "id=\"evil\"");  // checksum no longer matches
  WriteNative(folder_.Native("bookmark_v2"), broken);

  base::scoped_refptr<CBookmarkTreeModel> model = Open();
  EXPECT_EQ(0u, ImportFailed(model.get()));
  EXPECT_EQ("good", Shape(model.get()));
  EXPECT_EQ(broken, ReadNative(folder_.Native("bookmark_v2.bad")));
  // The first write after such an import leaves the good backup alone...
  ASSERT_EQ(S_OK, model->Add(Link(u"more"), Bstr(u"more"), nullptr, -1));
  model->synchroniser()->performSync();
  EXPECT_EQ(good, Backup());
  const std::string written = Main();
  // ...and later writes back up again.
  NextTick();
  ASSERT_EQ(S_OK, model->Remove(Bstr(u"more")));
  model->synchroniser()->performSync();
  EXPECT_EQ(written, Backup());
}

TEST_F(BookmarkSyncFileTest, NeitherFileLoadingGivesAnEmptyTreeAndAFailedImport) {
  WriteNative(folder_.Native("bookmark_v2"), "<root checksum=\"x\"/>");
  WriteNative(folder_.Native("bookmark_v2.bak"), "not xml");
  base::scoped_refptr<CBookmarkTreeModel> model = Open();
  EXPECT_EQ(1u, ImportFailed(model.get()));
  EXPECT_EQ("", Shape(model.get()));
  EXPECT_EQ("<root checksum=\"x\"/>", ReadNative(folder_.Native("bookmark_v2.bad")));
  EXPECT_EQ("not xml", ReadNative(folder_.Native("bookmark_v2.bak.bad")));
}

TEST_F(BookmarkSyncFileTest, AFailedWriteKeepsTheChangesPending) {
  base::scoped_refptr<CBookmarkTreeModel> model = Open();
  ASSERT_EQ(S_OK, model->Add(Link(u"a"), Bstr(u"a"), nullptr, -1));
  // A folder where the file should be: the write cannot replace it.
  std::filesystem::create_directory(folder_.Native("bookmark_v2"));
  model->synchroniser()->performSync();
  EXPECT_EQ(1u, model->synchroniser()->pending_changes_for_testing().size());
  std::filesystem::remove(folder_.Native("bookmark_v2"));
  model->synchroniser()->performSync();
  EXPECT_TRUE(model->synchroniser()->pending_changes_for_testing().empty());
  EXPECT_NE("", Main());
}

}  // namespace
