#include "offers/LoadingPage.h"

#include "api/ApiManager.h"
#include "api/EventTemplate.h"
#include "download/DownloadManager.h"
#include "framework/BitmapDecoding.h"
#include "framework/GdiplusSession.h"
#include "localisation/LanguageManager.h"
#include "offers/ConfigurationAnswer.h"
#include "offers/OfferList.h"
#include "packages/EligibilityEngine.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "core/ConfigurationManager.h"

using nlohmann::json;

namespace {

constexpr UINT kMarqueeIntervalMs = 30;

// Whatever the answer holds goes to the settings; what it lacks stays as it was.
void ApplyToSettings(const ConfigurationAnswer& answer, ConfigurationManager& settings) {
    if (answer.ccValue) settings.ccValue = *answer.ccValue;
    if (answer.product) {
        const ProductDescription& product = *answer.product;
        settings.productTitle = product.title;
        settings.productUrl = product.url;
        settings.productImageUrl = product.imageUrl;
        settings.productFileName = product.fileName;
        settings.privacyUrl = product.privacyUrl;
        settings.termsUrl = product.termsUrl;
        settings.channel = product.channel;
        settings.offerTag = product.offerTag;
        settings.productSha256 = product.sha256;
    }
    if (answer.pubId) settings.pubId = *answer.pubId;
    if (answer.offers) settings.maxOffers = answer.offers->maxOffers;
}

// Runs on the picture's download thread, which may finish while the wizard
// closes or the process exits.
void StoreProductPicture(const std::vector<char>& bytes) {
    // Held, GDI+ stays up and the settings with it (they end after it).
    framework::GdiplusUse gdiplus;
    if (!gdiplus) return;
    framework::StoreDecodedPicture(bytes, ConfigurationManager::GetInstance()->productImage);
}

}  // namespace

LoadingPage::LoadingPage(std::shared_ptr<LanguageManager> manager, HWND parent)
    : PageBase(std::move(manager), IDD_LOADING_PAGE, parent) {
    MapMessage(WM_REQUEST_COMPLETE, [this](WPARAM, LPARAM) { return OnRequestComplete(); });
}

LoadingPage::~LoadingPage() {
    if (loadResult.valid()) loadResult.wait();
}

BOOL LoadingPage::OnInitDialog() {
    BindControl(IDC_PROGRESS, progressBar);
    RefreshTexts();
    return TRUE;
}

void LoadingPage::SetCompletionCallback(CompletionCallback callback) {
    std::lock_guard lock(pictures->downloadMutex);
    pictures->completionCallback = std::move(callback);
}

void LoadingPage::OnNavigateToPage() {
    progressBar.SendMessage(PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    progressBar.SetPos(0);
    progressBar.SetMarquee(true, kMarqueeIntervalMs);
    HWND page = hwnd_;
    loadResult = std::async(std::launch::async, [this, page] { return LoadConfiguration(page); });
}

std::vector<std::shared_ptr<Package>> LoadingPage::LoadConfiguration(HWND page) {
    try {
        const std::unique_ptr<json> response = ApiManager::GetInstance()->RequestConfiguration();
        auto settings = ConfigurationManager::GetInstance();
        const ConfigurationAnswer answer =
            ReadConfigurationAnswer(*response, settings->wizardType == WizardType::DLM, settings->channel);
        ApplyToSettings(answer, *settings);
        if (answer.configurationError) {
            configurationError = true;
            ::PostMessageW(page, WM_REQUEST_COMPLETE, 0, 0);
            return {};
        }
        std::vector<std::shared_ptr<Package>> accepted;
        if (answer.offers) accepted = AcceptOffers(*answer.offers);
        ::PostMessageW(page, WM_REQUEST_COMPLETE, 0, 0);
        return accepted;
    } catch (const std::exception&) {
        // The failure reaches the page through the future.
        ::PostMessageW(page, WM_REQUEST_COMPLETE, 0, 0);
        throw;
    }
}

std::vector<std::shared_ptr<Package>> LoadingPage::AcceptOffers(const OfferSection& offers) {
    EligibilityEngine engine(offers.maxOffers);
    std::vector<std::shared_ptr<Package>> accepted;
    for (const json& element : offers.elements) {
        auto offer = BuildOffer(BuildEventTemplate(), element, static_cast<int>(accepted.size()));
        if (!offer) continue;
        bool limitReached = false;
        if (PassesRules(engine, offer, limitReached)) {
            accepted.push_back(offer);
        } else {
            // Its rejection event is still on its way: dropping the package
            // here would wait for the delivery on every rejected offer.
            rejectedOffers.push_back(offer);
        }
        if (limitReached) break;
    }
    return accepted;
}

LRESULT LoadingPage::OnRequestComplete() {
    if (configurationError) {
        ShowConfigurationError();
        return 0;
    }
    auto settings = ConfigurationManager::GetInstance();
    std::vector<std::shared_ptr<Package>> packages;
    try {
        packages = loadResult.get();
    } catch (const std::exception&) {
        if (settings->wizardType == WizardType::DLM) {
            ShowConfigurationError();
            return 0;
        }
        // The installer wizard goes on with its built-in product and no offers.
    }

    const std::shared_ptr<PictureCompletion> completion = pictures;
    {
        std::lock_guard lock(completion->downloadMutex);
        completion->pendingDownloads = static_cast<int>(packages.size());
    }
    if (settings->wizardType == WizardType::DLM && !settings->productImageUrl.empty()) {
        {
            std::lock_guard lock(completion->downloadMutex);
            ++completion->pendingDownloads;
        }
        DownloadManager::GetInstance()->DownloadToMemoryAsync(
            settings->productImageUrl, [completion, packages](std::unique_ptr<std::vector<char>> bytes) {
                if (bytes && !bytes->empty()) StoreProductPicture(*bytes);
                PictureDone(completion, packages);
            });
    }
    {
        std::lock_guard lock(completion->downloadMutex);
        if (completion->pendingDownloads == 0 && completion->completionCallback && !completion->completed) {
            completion->completed = true;
            completion->completionCallback(packages);
        }
    }
    for (const auto& package : packages) {
        package->DownloadImage([completion, packages] { PictureDone(completion, packages); });
    }
    return 0;
}

void LoadingPage::PictureDone(const std::shared_ptr<PictureCompletion>& completion,
                              const std::vector<std::shared_ptr<Package>>& packages) {
    std::lock_guard lock(completion->downloadMutex);
    if (--completion->pendingDownloads == 0 && completion->completionCallback && !completion->completed) {
        completion->completed = true;
        completion->completionCallback(packages);
    }
}

void LoadingPage::ShowConfigurationError() {
    ReportError("PAGE_CONFIGURATION_ERROR_TITLE", "PAGE_CONFIGURATION_ERROR_DESC");
}
