// Texts of the wizard in the user's language: lists the locale documents
// embedded for the wizard type, picks the user's language, loads one
// document into a table with its placeholders replaced, hands texts out by
// key and re-texts everything registered with it when the language changes.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <tinyxml2.h>

#include "framework/Controls.h"
#include "framework/Strings.h"
#include "localisation/Retextable.h"

class ConfigurationManager;

class LanguageManager {
public:
    using MessageSink = std::function<void(const CStringW&)>;

    // Uses the process-wide settings and the program's message boxes.
    LanguageManager();
    LanguageManager(std::shared_ptr<ConfigurationManager> settings, MessageSink showMessage);
    LanguageManager(const LanguageManager&) = delete;
    LanguageManager& operator=(const LanguageManager&) = delete;

    std::vector<int> GetResourceIds() const;
    void FillLanguageList(framework::CComboBox& list);
    bool SetLanguage(const CStringW& displayName);
    CStringW GetText(const std::string& key) const;

    bool LoadLocaleDocument(int resourceId, tinyxml2::XMLDocument& document);
    bool ParseLocaleDocument(tinyxml2::XMLDocument& document);

    // Registered re-textables are called, in the order they came, on every
    // change of language until they leave; the manager owns none of them.
    void AddRetextable(Retextable* retextable);
    void RemoveRetextable(Retextable* retextable);

private:
    void ReportParseFailure(const std::string& detail) const;

    std::shared_ptr<ConfigurationManager> settings;
    MessageSink showMessage;
    std::map<CStringW, int> languageResources;
    std::map<CStringW, CStringW> languageCodes;
    std::vector<Retextable*> retextables;
    std::map<std::string, std::string> texts;
};

// The language's own name for itself ("English", "español"); the locale name
// itself when the system knows neither it nor its two-letter language.
CStringW GetLanguageDisplayName(const CStringW& localeName);

// Replaces every "{KEY}" whose key is in the table by that key's text, also
// inside inserted texts. Texts that refer to themselves, directly or through
// other keys, stop expanding after a bounded depth and keep the placeholder.
void SubstitutePlaceholders(std::map<std::string, std::string>& texts);
