// The File Writer's sync at barriers is an option of each writer, not of
// the process: on for every new writer, and turning it off for one leaves
// the others as they are.

#include <gtest/gtest.h>

#include "platform/media/core/engine_harness.h"
#include "platform/media/io/filewriter.h"
#include "platform/media/registration/engineclasses.h"

namespace ronvix::media::test {
namespace {

using namespace com;

ComPtr<IFileWriterSync> NewWriterSync() {
    ComPtr<IBaseFilter> writer;
    EXPECT_EQ(CoCreateInstance(CLSID_FileWriter, nullptr, CLSCTX_INPROC_SERVER, IBaseFilter::iid,
                               writer.OutVoid()),
              S_OK);
    return writer ? writer.As<IFileWriterSync>() : nullptr;
}

TEST(FileWriterSync, OnForEveryNewWriterAndOffOnlyForTheWriterTold) {
    RegisterEngineClasses();
    ComPtr<IFileWriterSync> first = NewWriterSync();
    ComPtr<IFileWriterSync> second = NewWriterSync();
    ASSERT_TRUE(first);
    ASSERT_TRUE(second);
    bool sync = false;
    ASSERT_EQ(first->GetBarrierSync(&sync), S_OK);
    EXPECT_TRUE(sync);
    EXPECT_EQ(first->GetBarrierSync(nullptr), E_POINTER);

    ASSERT_EQ(first->SetBarrierSync(false), S_OK);
    ASSERT_EQ(first->GetBarrierSync(&sync), S_OK);
    EXPECT_FALSE(sync);
    ASSERT_EQ(second->GetBarrierSync(&sync), S_OK);
    EXPECT_TRUE(sync);
    ASSERT_TRUE(NewWriterSync());
    ASSERT_EQ(NewWriterSync()->GetBarrierSync(&sync), S_OK);
    EXPECT_TRUE(sync);
}

}  // namespace
}  // namespace ronvix::media::test
