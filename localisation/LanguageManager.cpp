#include "localisation/LanguageManager.h"

#include <windows.h>

#include <algorithm>

#include "framework/MessageBox.h"
#include "core/ConfigurationManager.h"
#include "core/TextConversion.h"
#include "resources/resource.h"

namespace {

constexpr wchar_t kLocaleResourceType[] = L"LOCALE";
constexpr int kLocaleNameLength = 85;

// Inserted texts are searched again, so a text that names itself would grow
// without end; past this nesting a placeholder is left as written.
constexpr int kMaxPlaceholderDepth = 8;
// Guards against texts that double at every level ({A} = "{A}{A}").
constexpr size_t kMaxTextBytes = 64 * 1024;

void ExpandPlaceholders(std::string& text, const std::map<std::string, std::string>& texts) {
    // Nesting depth of every byte: inserted text is one level deeper than the
    // placeholder it replaced.
    std::vector<unsigned char> depth(text.size(), 0);
    size_t position = 0;
    for (;;) {
        const size_t open = text.find('{', position);
        if (open == std::string::npos) return;
        const size_t close = text.find('}', open);
        if (close == std::string::npos) return;

        const auto found = texts.find(text.substr(open + 1, close - open - 1));
        const int level = depth[open];
        const bool fits =
            found != texts.end() && text.size() - (close - open + 1) + found->second.size() <= kMaxTextBytes;
        if (found == texts.end() || level >= kMaxPlaceholderDepth || !fits) {
            position = close + 1;
            continue;
        }
        const std::string replacement = found->second;
        text.replace(open, close - open + 1, replacement);
        depth.erase(depth.begin() + static_cast<std::ptrdiff_t>(open),
                    depth.begin() + static_cast<std::ptrdiff_t>(close + 1));
        depth.insert(depth.begin() + static_cast<std::ptrdiff_t>(open), replacement.size(),
                     static_cast<unsigned char>(level + 1));
        position = open;
    }
}

// The element's text: its first child that is not a comment, when that is text.
const char* ElementText(const tinyxml2::XMLElement& element) {
    for (const tinyxml2::XMLNode* child = element.FirstChild(); child; child = child->NextSibling()) {
        if (child->ToComment()) continue;
        const tinyxml2::XMLText* text = child->ToText();
        return text ? text->Value() : nullptr;
    }
    return nullptr;
}

CStringW UserLocaleName() {
    wchar_t buffer[kLocaleNameLength] = {};
    if (::GetUserDefaultLocaleName(buffer, kLocaleNameLength) == 0) return CStringW();
    return buffer;
}

}  // namespace

void SubstitutePlaceholders(std::map<std::string, std::string>& texts) {
    for (auto& entry : texts) ExpandPlaceholders(entry.second, texts);
}

CStringW GetLanguageDisplayName(const CStringW& localeName) {
    wchar_t buffer[kLocaleNameLength] = {};
    if (::GetLocaleInfoEx(localeName.c_str(), LOCALE_SNATIVELANGNAME, buffer, kLocaleNameLength) > 0) return buffer;
    if (localeName.size() > 2) {
        const CStringW language = localeName.substr(0, 2);
        if (::GetLocaleInfoEx(language.c_str(), LOCALE_SNATIVELANGNAME, buffer, kLocaleNameLength) > 0) return buffer;
    }
    return localeName;
}

LanguageManager::LanguageManager()
    : LanguageManager(ConfigurationManager::GetInstance(),
                      [](const CStringW& text) { framework::AfxMessageBox(text, MB_OK); }) {
}

LanguageManager::LanguageManager(std::shared_ptr<ConfigurationManager> settingsIn, MessageSink sink)
    : settings(std::move(settingsIn)), showMessage(std::move(sink)) {
    if (!showMessage) showMessage = [](const CStringW&) {};
}

std::vector<int> LanguageManager::GetResourceIds() const {
    switch (settings ? settings->wizardType : WizardType::Unknown) {
    case WizardType::DLM: return {IDR_LOCALE_DLM_EN, IDR_LOCALE_DLM_ES};
    case WizardType::ISV: return {IDR_LOCALE_ISV_EN, IDR_LOCALE_ISV_ES};
    default: return {};
    }
}

void LanguageManager::ReportParseFailure(const std::string& detail) const {
    showMessage(L"Failed to parse language xml file, error code: " + Utf8ToWide(detail));
}

void LanguageManager::FillLanguageList(framework::CComboBox& list) {
    const std::vector<int> ids = GetResourceIds();
    languageResources.clear();
    languageCodes.clear();
    list.ResetContent();
    int selected = 0;

    CStringW wanted;
    const CStringW userLocale = UserLocaleName();
    if (!userLocale.empty()) wanted = GetLanguageDisplayName(userLocale);
    if (wanted.empty()) wanted = L"English";

    for (const int id : ids) {
        tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
        if (!LoadLocaleDocument(id, document)) continue;
        const tinyxml2::XMLElement* root = document.FirstChildElement("Locale");
        if (!root) continue;
        const char* localeName = root->Attribute("name");
        if (!localeName || !*localeName) {
            ReportParseFailure("No name attribute");
            continue;
        }
        const CStringW code = Utf8ToWide(localeName);
        const CStringW name = GetLanguageDisplayName(code);
        if (name == wanted) selected = list.GetCount();
        list.AddString(name);
        languageResources[name] = id;
        languageCodes[name] = code;
    }
    list.SetCurSel(selected);
}

bool LanguageManager::SetLanguage(const CStringW& displayName) {
    const auto found = languageResources.find(displayName);
    if (found == languageResources.end()) return false;
    tinyxml2::XMLDocument document(true, tinyxml2::PRESERVE_WHITESPACE);
    if (!LoadLocaleDocument(found->second, document)) return false;
    // A document that fails part-way still counts: what was read is used.
    ParseLocaleDocument(document);

    // Re-textables may leave the list while being refreshed; work on a copy.
    const std::vector<Retextable*> current = retextables;
    for (Retextable* retextable : current) {
        if (std::find(retextables.begin(), retextables.end(), retextable) != retextables.end())
            retextable->RefreshTexts();
    }

    const auto code = languageCodes.find(displayName);
    if (settings) {
        settings->languageName = displayName;
        settings->languageCode = code != languageCodes.end() ? code->second : CStringW();
    }
    return true;
}

CStringW LanguageManager::GetText(const std::string& key) const {
    const auto found = texts.find(key);
    if (found == texts.end() || found->second.empty()) return CStringW();
    CStringW text = Utf8ToWide(found->second);
    const size_t zero = text.find(L'\0');
    if (zero != CStringW::npos) text.resize(zero);
    return text;
}

bool LanguageManager::LoadLocaleDocument(int resourceId, tinyxml2::XMLDocument& document) {
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), kLocaleResourceType);
    if (!resource) {
        showMessage(L"Failed to find resource with id: " + std::to_wstring(resourceId));
        return false;
    }
    HGLOBAL loaded = ::LoadResource(module, resource);
    if (!loaded) {
        showMessage(L"Failed to load resource with id: " + std::to_wstring(resourceId));
        return false;
    }
    const auto* bytes = static_cast<const char*>(::LockResource(loaded));
    const DWORD size = ::SizeofResource(module, resource);
    if (document.Parse(bytes, bytes ? size : 0) == tinyxml2::XML_SUCCESS) return true;
    const char* description = document.ErrorStr();
    ReportParseFailure(description ? description : "");
    return false;
}

bool LanguageManager::ParseLocaleDocument(tinyxml2::XMLDocument& document) {
    const tinyxml2::XMLElement* root = document.FirstChildElement("Locale");
    if (!root) {
        ReportParseFailure("No Locale element");
        return false;
    }
    texts.clear();
    texts["PRODUCT_TITLE"] = settings ? WideToUtf8(settings->productTitle) : std::string();

    for (const tinyxml2::XMLElement* element = root->FirstChildElement(); element;
         element = element->NextSiblingElement()) {
        const char* key = element->Name();
        const char* text = ElementText(*element);
        if (!key || !*key || !text) {
            ReportParseFailure("No name or text attribute");
            return false;
        }
        texts[key] = text;
    }
    SubstitutePlaceholders(texts);
    return true;
}

void LanguageManager::AddRetextable(Retextable* retextable) {
    retextables.push_back(retextable);
}

void LanguageManager::RemoveRetextable(Retextable* retextable) {
    retextables.erase(std::remove(retextables.begin(), retextables.end(), retextable), retextables.end());
}
