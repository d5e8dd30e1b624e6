// Second page of both wizards: a moving progress bar while a background task
// fetches the configuration, keeps the offers the rules accept and the page
// then fetches the pictures. The accepted offers go to the host through the
// completion callback; an unusable configuration goes to the error callback.
#pragma once

#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <vector>

#include <nlohmann/json.hpp>

#include "framework/Controls.h"
#include "shell/PageBase.h"

class Package;
struct OfferSection;

// Posted by the background task to the page when it has finished.
constexpr UINT WM_REQUEST_COMPLETE = WM_USER + 4;

class LoadingPage : public PageBase {
public:
    using CompletionCallback = std::function<void(std::vector<std::shared_ptr<Package>>)>;

    LoadingPage(std::shared_ptr<LanguageManager> languageManager, HWND parent);
    // Waits for a task still loading: it works on this page. Then the
    // rejected offers go, each once its rejection event is done.
    ~LoadingPage() override;

    void OnNavigateToPage() override;
    CStringW GetPageName() override { return L"LoadingPage"; }
    void SetCompletionCallback(CompletionCallback callback);

protected:
    BOOL OnInitDialog() override;

private:
    // What the picture downloads share. They may finish after the page is
    // gone (the wizard closed meanwhile), so they own it together with the page.
    struct PictureCompletion {
        std::mutex downloadMutex;
        int pendingDownloads = 0;
        CompletionCallback completionCallback;
        bool completed = false;
    };

    std::vector<std::shared_ptr<Package>> LoadConfiguration(HWND page);
    // Builds the offers and keeps those the rules accept, in order.
    std::vector<std::shared_ptr<Package>> AcceptOffers(const OfferSection& offers);
    LRESULT OnRequestComplete();
    void ShowConfigurationError();
    static void PictureDone(const std::shared_ptr<PictureCompletion>& completion,
                            const std::vector<std::shared_ptr<Package>>& packages);

    std::shared_ptr<PictureCompletion> pictures = std::make_shared<PictureCompletion>();
    framework::CProgressCtrl progressBar;
    // Written by the task, read by the UI thread.
    std::atomic<bool> configurationError{false};
    // Offers the rules turned down, kept while their rejection events are
    // delivered in the background. The host destroys its pages before the
    // process ends, so a closing wizard waits for these events too. Written
    // by the task, released only after it has ended.
    std::vector<std::shared_ptr<Package>> rejectedOffers;
    std::future<std::vector<std::shared_ptr<Package>>> loadResult;
};
