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
