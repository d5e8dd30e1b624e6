// An offer's picture: fetched from the offer base URL plus the package's
// UTF-8 path, decoded, and onDone called in every case.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>

#include "framework/ComPtr.h"
#include "framework/Handles.h"
#include "packages/Package.h"
#include "core/ConfigurationManager.h"
#include "tests/download/DownloadTestSupport.h"

namespace ostrel::testing {
namespace {

using nlohmann::json;

EventTemplate EmptyTemplate() {
    EventTemplate eventTemplate;
    eventTemplate.body = json::object();
    return eventTemplate;
}

std::shared_ptr<Package> OfferWithPicture(const std::string& imagePath) {
    const json offer = {{"ad", {{"f", "tag"}, {"o", "code"}}},
                        {"ps", {{"i", imagePath}, {"dn", "Offer"}, {"u", "offer.exe"}}}};
    return std::make_shared<Package>(EmptyTemplate(), offer, false, "", 0);
}

std::string Base64(const std::string& bytes) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (left > 1) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (left > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
        text += kAlphabet[(group >> 18) & 63];
        text += kAlphabet[(group >> 12) & 63];
        text += left > 1 ? kAlphabet[(group >> 6) & 63] : '=';
        text += left > 2 ? kAlphabet[group & 63] : '=';
    }
    return text;
}

// A small PNG drawn here, so the test knows what a correct decoding gives.
std::string PngOfSize(int width, int height) {
    Gdiplus::Bitmap bitmap(width, height, PixelFormat32bppARGB);
    UINT count = 0;
    UINT size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<BYTE> buffer(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, encoders);
    const Gdiplus::ImageCodecInfo* png = nullptr;
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(encoders[i].MimeType) == L"image/png") png = &encoders[i];
    }
    if (!png) return std::string();
    framework::ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(nullptr, TRUE, stream.Put()))) return std::string();
    if (bitmap.Save(stream.Get(), &png->Clsid, nullptr) != Gdiplus::Ok) return std::string();
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    std::string bytes(static_cast<size_t>(stat.cbSize.QuadPart), '\0');
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    ULONG read = 0;
    stream->Read(bytes.data(), static_cast<ULONG>(bytes.size()), &read);
    return bytes;
}

// Counts onDone calls and remembers whether one came before DownloadImage returned.
class DoneProbe {
public:
    std::function<void()> OnDone() {
        return [this] {
            std::lock_guard lock(mutex_);
            ++calls_;
            called_.notify_all();
        };
    }
    bool Wait() {
        std::unique_lock lock(mutex_);
        return called_.wait_for(lock, std::chrono::seconds(30), [this] { return calls_ > 0; });
    }
    int Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    std::mutex mutex_;
    std::condition_variable called_;
    int calls_ = 0;
};

class PackageImage : public DownloadTest {
protected:
    void SetUp() override {
        DownloadTest::SetUp();
        savedBaseUrl = settings->offerBaseUrl;
        settings->offerBaseUrl = host.Url(L"/f/");
    }
    void TearDown() override {
        settings->offerBaseUrl = savedBaseUrl;
        DownloadTest::TearDown();
    }

    std::shared_ptr<ConfigurationManager> settings = ConfigurationManager::GetInstance();
    CStringW savedBaseUrl;
};

TEST_F(PackageImage, TheMainProductIsDoneAtOnceWithoutARequest) {
    auto main = std::make_shared<Package>(EmptyTemplate(), true, L"code", L"tag", L"Main", L"", 0);
    DoneProbe probe;
    main->DownloadImage(probe.OnDone());
    EXPECT_EQ(probe.Calls(), 1);
    EXPECT_FALSE(main->Image());
    // An onDone that is not set is simply not called.
    main->DownloadImage(nullptr);
    EXPECT_EQ(RequestCount(L"/f/"), 0u);
}

TEST_F(PackageImage, AnOffersPictureIsFetchedFromItsUtf8PathAndDecoded) {
    const std::string png = PngOfSize(5, 3);
    ASSERT_FALSE(png.empty());
    const std::string path = "/f/pics/gr\xC3\xBCn \xE2\x82\xAC.png";  // "grün €.png" in UTF-8
    Serve({{"path", path}, {"bodyBase64", Base64(png)}, {"contentType", "image/png"}});

    auto offer = OfferWithPicture("pics/gr\xC3\xBCn \xE2\x82\xAC.png");
    DoneProbe probe;
    offer->DownloadImage(probe.OnDone());
    ASSERT_TRUE(probe.Wait());
    EXPECT_EQ(probe.Calls(), 1);
    ASSERT_TRUE(offer->Image());
    EXPECT_EQ(offer->Image()->GetWidth(), 5u);
    EXPECT_EQ(offer->Image()->GetHeight(), 3u);
}

TEST_F(PackageImage, NoPictureStillCallsOnDone) {
    Serve({{"path", "/f/garbage.png"}, {"body", "this is no picture"}});
    for (const std::string imagePath : {"garbage.png", "missing.png"}) {
        auto offer = OfferWithPicture(imagePath);
        DoneProbe probe;
        offer->DownloadImage(probe.OnDone());
        ASSERT_TRUE(probe.Wait()) << imagePath;
        EXPECT_FALSE(offer->Image()) << imagePath;
    }
}

}  // namespace
}  // namespace ostrel::testing
