#include "offers/LoadingPage.h"

#include "api/ApiManager.h"
#include "api/EventTemplate.h"
#include "download/DownloadManager.h"
#include "framework/BitmapDecoding.h"
#include "framework/GdiplusSession.h"
#include "localisation/LanguageManager.h"
#include "offers/OfferList.h"
#include "packages/EligibilityEngine.h"
#include "packages/JsonNumbers.h"
#include "packages/Package.h"
#include "resources/resource.h"
#include "shell/ConfigurationManager.h"
#include "shell/TextConversion.h"

using nlohmann::json;

namespace {

constexpr UINT kMarqueeIntervalMs = 30;
constexpr wchar_t kOffersSwitchedOff[] = L"00xA";

// An optional member of the product description; absent gives "".
CStringW OptionalText(const json& description, const char* key) {
    return description.contains(key) ? Utf8ToWide(description.at(key).get<std::string>()) : CStringW();
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
    : IPage(std::move(manager), IDD_LOADING_PAGE, parent) {
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
        if (response->is_object() && response->contains("l")) settings->ccValue = response->at("l").get<std::string>();

        if (settings->wizardType == WizardType::DLM) {
            ReadProductDescription(*response);
            if (configurationError) {
                ::PostMessageW(page, WM_REQUEST_COMPLETE, 0, 0);
                return {};
            }
        }
        if (response->is_object() && response->contains("f") && response->at("f").is_object() &&
            response->at("f").contains("a")) {
            settings->pubId = response->at("f").at("a").get<std::string>();
        }
        std::vector<std::shared_ptr<Package>> accepted;
        if (response->is_object() && response->contains("o") && settings->channel != kOffersSwitchedOff) {
            accepted = ReadOffers(*response);
        }
        ::PostMessageW(page, WM_REQUEST_COMPLETE, 0, 0);
        return accepted;
    } catch (const std::exception&) {
        // The failure reaches the page through the future.
        ::PostMessageW(page, WM_REQUEST_COMPLETE, 0, 0);
        throw;
    }
}

void LoadingPage::ReadProductDescription(const json& response) {
    auto settings = ConfigurationManager::GetInstance();
    const json& description = response.at("i");
    if (!description.is_object()) {
        throw json::type_error::create(302, std::string("type must be object, but is ") + description.type_name(),
                                       &description);
    }
    settings->productTitle = Utf8ToWide(description.at("ct").get<std::string>());
    settings->productUrl = Utf8ToWide(description.at("cu").get<std::string>());
    if (settings->productTitle.empty() || settings->productUrl.empty()) {
        configurationError = true;
        return;
    }
    settings->productImageUrl = OptionalText(description, "cl");
    settings->productFileName =
        description.contains("cf") ? OptionalText(description, "cf") : settings->productTitle + L".exe";
    settings->privacyUrl = OptionalText(description, "cp");
    settings->termsUrl = OptionalText(description, "ctu");
    settings->channel = OptionalText(description, "ch");
    settings->offerTag = OptionalText(description, "cfl");
}

std::vector<std::shared_ptr<Package>> LoadingPage::ReadOffers(const json& response) {
    auto settings = ConfigurationManager::GetInstance();
    settings->maxOffers = ReadInt32Field(response.at("f").at("m"));
    EligibilityEngine engine(settings->maxOffers);
    std::vector<std::shared_ptr<Package>> accepted;
    for (const json* element : OfferElements(response.at("o"))) {
        auto offer = BuildOffer(BuildEventTemplate(), *element, static_cast<int>(accepted.size()));
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
    if (errorCallback) {
        errorCallback(languageManager->GetText("PAGE_CONFIGURATION_ERROR_TITLE"),
                      languageManager->GetText("PAGE_CONFIGURATION_ERROR_DESC"));
    }
}
