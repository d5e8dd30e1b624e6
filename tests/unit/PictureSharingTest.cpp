// Pictures that download threads decode and store while the window thread
// reads and releases them.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "framework/BitmapDecoding.h"
#include "framework/SharedPicture.h"
#include "resources/resource.h"

namespace {

std::vector<char> ResourceBytes(UINT id, const wchar_t* type) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(id), type);
    if (!resource) return {};
    const char* bytes = static_cast<const char*>(::LockResource(::LoadResource(module, resource)));
    return bytes ? std::vector<char>(bytes, bytes + ::SizeofResource(module, resource)) : std::vector<char>();
}

TEST(DecodeBitmap, GivesThePictureOrNothing) {
    const std::vector<char> png = ResourceBytes(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2");
    ASSERT_FALSE(png.empty());
    const auto bitmap = framework::DecodeBitmap(png);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->GetWidth(), 512u);
    EXPECT_EQ(bitmap->GetHeight(), 512u);

    const std::vector<char> text{'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'};
    EXPECT_FALSE(framework::DecodeBitmap(text));
    EXPECT_FALSE(framework::DecodeBitmap(std::vector<char>()));
    const std::vector<char> truncated(png.begin(), png.begin() + png.size() / 3);
    EXPECT_FALSE(framework::DecodeBitmap(truncated));
}

// Downloaded bytes stored into a picture that may already hold one: only a
// decodable picture replaces it. The settings keep the product's picture as a
// GDI+ image, a package its own as a bitmap; both go through the same store.
template <typename Picture>
void ExpectStoringKeepsOrReplaces() {
    const std::vector<char> png = ResourceBytes(IDR_IMAGE_FINISHED, L"IMAGE_BLOB2");
    ASSERT_FALSE(png.empty());
    const struct {
        const char* what;
        std::vector<char> bytes;
    } kUndecodable[] = {
        {"text", {'n', 'o', ' ', 'p', 'i', 'c', 't', 'u', 'r', 'e'}},
        {"nothing", {}},
        {"a truncated picture", std::vector<char>(png.begin(), png.begin() + png.size() / 3)},
    };

    framework::SharedPicture<Picture> picture;
    for (const auto& entry : kUndecodable) {
        EXPECT_FALSE(framework::StoreDecodedPicture(entry.bytes, picture)) << entry.what;
        EXPECT_FALSE(picture.Get()) << entry.what;
    }

    ASSERT_TRUE(framework::StoreDecodedPicture(png, picture));
    const std::shared_ptr<Picture> stored = picture.Get();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->GetWidth(), 512u);
    EXPECT_EQ(stored->GetHeight(), 512u);

    for (const auto& entry : kUndecodable) {
        EXPECT_FALSE(framework::StoreDecodedPicture(entry.bytes, picture)) << entry.what;
        EXPECT_EQ(picture.Get(), stored) << entry.what << " replaced the picture";
    }

    ASSERT_TRUE(framework::StoreDecodedPicture(png, picture));
    EXPECT_TRUE(picture.Get());
    EXPECT_NE(picture.Get(), stored) << "a new picture must replace the old one";
}

TEST(StoreDecodedPicture, OnlyADecodablePictureReplacesAnImage) {
    ExpectStoringKeepsOrReplaces<Gdiplus::Image>();
}

TEST(StoreDecodedPicture, OnlyADecodablePictureReplacesABitmap) {
    ExpectStoringKeepsOrReplaces<Gdiplus::Bitmap>();
}

// Counts the pictures alive, so a lost or doubled release shows.
struct CountedPicture {
    explicit CountedPicture(std::atomic<int>& alive) : alive(alive) { ++alive; }
    ~CountedPicture() { --alive; }
    std::atomic<int>& alive;
};

TEST(SharedPicture, ReplacedAndReleasedFromTwoThreadsEveryPictureGoesOnce) {
    std::atomic<int> alive{0};
    {
        framework::SharedPicture<CountedPicture> shared;
        std::atomic<bool> stop{false};
        std::thread download([&] {
            while (!stop) shared.Set(std::make_shared<CountedPicture>(alive));
        });
        for (int i = 0; i < 20000; ++i) {
            const std::shared_ptr<CountedPicture> picture = shared.Get();
            shared.Reset();
        }
        stop = true;
        download.join();
        // At most the one still stored; every replaced or released one is gone.
        EXPECT_LE(alive.load(), 1);
    }
    EXPECT_EQ(alive.load(), 0);
}

}  // namespace
