// What the language manager calls when the language changes: anything that
// shows texts from it (the host's pages) registers itself and takes the new
// texts on this call. The manager knows nothing else about what it re-texts.
#pragma once

class Retextable {
public:
    // Reads the current language's texts again; may register or unregister
    // other re-textables while it runs.
    virtual void RefreshTexts() = 0;

protected:
    ~Retextable() = default;
};
