// A picture pointer that a download thread may set while the window thread
// reads or releases it. A picture replaced or released here is let go after
// the lock, so its release never runs under it.
#pragma once

#include <memory>
#include <mutex>

namespace framework {

template <typename Picture>
class SharedPicture {
public:
    SharedPicture() = default;
    SharedPicture(const SharedPicture&) = delete;
    SharedPicture& operator=(const SharedPicture&) = delete;

    std::shared_ptr<Picture> Get() const {
        std::lock_guard lock(mutex_);
        return picture_;
    }

    void Set(std::shared_ptr<Picture> picture) {
        {
            std::lock_guard lock(mutex_);
            picture_.swap(picture);
        }
        // picture now holds the old one, released here.
    }

    void Reset() { Set(nullptr); }

private:
    mutable std::mutex mutex_;
    std::shared_ptr<Picture> picture_;
};

}  // namespace framework
