// Media types, samples and the pooled allocator.

#include <thread>

#include "platform/media/core/engine_harness.h"
#include "platform/media/core/sample.h"

namespace ronvix::media {
namespace {

using namespace com;
using namespace test;

TEST(MediaTypes, CopiesOwnTheirFormatAndMatchPartially) {
    MediaType video = MediaType::Video(MEDIASUBTYPE_MJPG, 720, 576, 24, 400000);
    ASSERT_NE(video.VideoInfo(), nullptr);
    EXPECT_EQ(video->cbFormat, sizeof(VIDEOINFOHEADER));
    MediaType copy = video;
    EXPECT_NE(copy->pbFormat, video->pbFormat);  // A deep copy.
    EXPECT_TRUE(SameType(copy.Get(), video.Get()));
    copy.Get().pbFormat[0] ^= 1;
    EXPECT_FALSE(SameType(copy.Get(), video.Get()));

    AM_MEDIA_TYPE* heap = CreateMediaType(&video.Get());
    ASSERT_NE(heap, nullptr);
    EXPECT_TRUE(SameType(*heap, video.Get()));
    DeleteMediaType(heap);

    EXPECT_TRUE(MatchesPartial(video.Get(), nullptr));
    MediaType pattern = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_MJPG);
    EXPECT_TRUE(MatchesPartial(video.Get(), &pattern.Get()));
    MediaType rgb = MediaType::Partial(MEDIATYPE_Video, MEDIASUBTYPE_RGB32);
    EXPECT_FALSE(MatchesPartial(video.Get(), &rgb.Get()));
    EXPECT_FALSE(IsComplete(pattern.Get()));
    EXPECT_TRUE(IsComplete(video.Get()));

    EXPECT_EQ(DescribeMediaType(video.Get()), "Video/MJPG 720x576 25.00 fps");
    EXPECT_EQ(DescribeMediaType(MediaType::Pcm(48000, 16, 2).Get()),
              "Audio/PCM 48000 Hz 16 bit 2 ch");
    MediaType pcm = MediaType::Pcm(44100, 16, 1);
    EXPECT_EQ(pcm.WaveFormat()->nAvgBytesPerSec, 88200u);
    EXPECT_EQ(pcm.WaveFormat()->nBlockAlign, 2);
}

// Sizes from device or file values are computed without wrapping: what
// does not fit its field is 0 (unknown, or a format every consumer
// refuses), never a wrapped or negative number.
TEST(MediaTypes, SizesFromAnyValuesNeverWrap) {
    struct VideoCase {
        GUID subtype;
        int width, height, bits;
        DWORD image;
    };
    for (const VideoCase& c : {
             VideoCase{MEDIASUBTYPE_RGB32, 8192, 8192, 32, 256u << 20},
             VideoCase{MEDIASUBTYPE_RGB32, 720, -576, 32, 720 * 576 * 4},
             VideoCase{MEDIASUBTYPE_YUY2, 46340, 46340, 16, 4294791200u},
             VideoCase{MEDIASUBTYPE_YUY2, 65535, 65535, 16, 0},
             VideoCase{MEDIASUBTYPE_RGB32, -640, 480, 32, 0},
         }) {
        const MediaType t = MediaType::Video(c.subtype, c.width, c.height, c.bits);
        EXPECT_EQ(t.VideoInfo()->bmiHeader.biSizeImage, c.image) << c.width << "x" << c.height;
        EXPECT_EQ(t->lSampleSize, c.image) << c.width << "x" << c.height;
    }
    struct PcmCase {
        int rate, bits, channels;
        WORD align;
        DWORD per_second;
    };
    for (const PcmCase& c : {
             PcmCase{1'000'000, 16, 64, 128, 128'000'000},
             PcmCase{768'000, 32, 65535, 0, 0},
             PcmCase{2'147'483'647, 32, 8, 0, 0},
             PcmCase{-48000, 16, 2, 0, 0},
         }) {
        const MediaType t = MediaType::Pcm(c.rate, c.bits, c.channels);
        EXPECT_EQ(t.WaveFormat()->nBlockAlign, c.align) << c.rate << "/" << c.channels;
        EXPECT_EQ(t.WaveFormat()->nAvgBytesPerSec, c.per_second) << c.rate << "/" << c.channels;
    }
}

ComPtr<MemAllocator> Pool(LONG count, LONG size) {
    auto pool = MakeCom<MemAllocator>();
    ALLOCATOR_PROPERTIES want{count, size, 1, 0}, got{};
    EXPECT_EQ(pool->SetProperties(&want, &got), S_OK);
    EXPECT_EQ(got.cBuffers, count);
    return pool;
}

TEST(MemAllocator, SamplesReturnToThePoolWhenTheirLastReferenceGoes) {
    auto pool = Pool(2, 100);
    ComPtr<IMediaSample> a, b, c;
    EXPECT_EQ(pool->GetBuffer(a.ReleaseAndGetAddressOf(), nullptr, nullptr, 0),
              VFW_E_NOT_COMMITTED);
    ASSERT_EQ(pool->Commit(), S_OK);
    ALLOCATOR_PROPERTIES again{4, 10, 1, 0}, got{};
    EXPECT_EQ(pool->SetProperties(&again, &got), VFW_E_ALREADY_COMMITTED);
    ASSERT_EQ(pool->GetBuffer(a.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    ASSERT_EQ(pool->GetBuffer(b.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    EXPECT_EQ(pool->GetBuffer(c.ReleaseAndGetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT),
              VFW_E_TIMEOUT);
    EXPECT_EQ(pool->OutstandingForTest(), 2u);

    // Properties are reset for the next user.
    REFERENCE_TIME start = 5, stop = 9;
    a->SetTime(&start, &stop);
    a->SetActualDataLength(50);
    EXPECT_EQ(a->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
    IMediaSample* first = a.Get();
    a = nullptr;
    ASSERT_EQ(pool->GetBuffer(c.ReleaseAndGetAddressOf(), nullptr, nullptr, AM_GBF_NOWAIT), S_OK);
    EXPECT_EQ(c.Get(), first);
    EXPECT_EQ(c->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
    EXPECT_EQ(c->GetActualDataLength(), 0);
    start = 7;
    c->SetTime(&start, nullptr);
    EXPECT_EQ(c->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
}

TEST(MemAllocator, DecommitWakesAWaiterAndSamplesOutliveTheirHolder) {
    auto pool = Pool(1, 16);
    ASSERT_EQ(pool->Commit(), S_OK);
    ComPtr<IMediaSample> held;
    ASSERT_EQ(pool->GetBuffer(held.ReleaseAndGetAddressOf(), nullptr, nullptr, 0), S_OK);
    HRESULT waited = S_OK;
    std::thread waiter([&] {
        ComPtr<IMediaSample> s;
        waited = pool->GetBuffer(s.ReleaseAndGetAddressOf(), nullptr, nullptr, 0);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    pool->Decommit();
    waiter.join();
    EXPECT_EQ(waited, VFW_E_NOT_COMMITTED);

    // The pool goes away with the last sample, not before.
    IMemAllocator* raw = pool.Get();
    pool = nullptr;
    EXPECT_EQ(RefCount(raw), 1u);  // Held by the sample alone.
    BYTE* data = nullptr;
    held->GetPointer(&data);
    data[15] = 1;  // Still valid memory.
    held = nullptr;
}

}  // namespace
}  // namespace ronvix::media
