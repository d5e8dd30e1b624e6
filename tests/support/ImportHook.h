// Replaces one imported function of this program's own module while the
// object lives. The engine is linked into the program, so its calls to the
// system go through this module's import table: a replacement sees exactly
// what the engine asks and can answer in its place, which is how tests count
// measurements and produce failures the machine would not give on request.
#pragma once

#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace ostrel::testing {

class ImportHook {
public:
    ImportHook(const char* dll, const char* function, void* replacement) {
        auto* const base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
        const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
        const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
        const IMAGE_DATA_DIRECTORY& imports = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        auto* descriptor = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
        for (; imports.VirtualAddress != 0 && descriptor->Name != 0; ++descriptor) {
            if (::lstrcmpiA(reinterpret_cast<const char*>(base + descriptor->Name), dll) != 0) continue;
            if (descriptor->OriginalFirstThunk == 0) continue;
            const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + descriptor->OriginalFirstThunk);
            auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + descriptor->FirstThunk);
            for (; names->u1.AddressOfData != 0; ++names, ++slots) {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
                const auto* byName = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) != 0) continue;
                auto* slot = reinterpret_cast<void**>(&slots->u1.Function);
                patched_.emplace_back(slot, *slot);
                Write(slot, replacement);
            }
        }
        if (patched_.empty()) throw std::runtime_error(std::string("no import of ") + function + " from " + dll);
    }
    ImportHook(const ImportHook&) = delete;
    ImportHook& operator=(const ImportHook&) = delete;
    ~ImportHook() {
        for (const auto& [slot, original] : patched_) Write(slot, original);
    }

    // The function the program called before the hook, for replacements that pass calls on.
    template <typename Function>
    Function Original() const {
        return reinterpret_cast<Function>(patched_.front().second);
    }

private:
    static void Write(void** slot, void* value) {
        DWORD protection = 0;
        ::VirtualProtect(slot, sizeof(void*), PAGE_READWRITE, &protection);
        *slot = value;
        ::VirtualProtect(slot, sizeof(void*), protection, &protection);
    }

    std::vector<std::pair<void**, void*>> patched_;
};

// Puts Probe::Call in place of the import while the object lives, and gives
// Probe::original the function it stands in for, so the probe can pass calls on.
template <typename Probe>
class ImportProbe {
public:
    ImportProbe(const char* dll, const char* function) : hook_(dll, function, reinterpret_cast<void*>(&Probe::Call)) {
        Probe::original = hook_.template Original<decltype(Probe::original)>();
    }

private:
    ImportHook hook_;
};

}  // namespace ostrel::testing
