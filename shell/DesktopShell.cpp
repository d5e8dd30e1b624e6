#include "shell/DesktopShell.h"

#include <exdisp.h>
#include <oleauto.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include "framework/Bstr.h"
#include "framework/ComPtr.h"

namespace {

using framework::ComPtr;

// A call that claims success but hands back nothing is a failure too.
template <typename T>
HRESULT Checked(HRESULT result, const ComPtr<T>& object) {
    if (FAILED(result)) return result;
    return object ? S_OK : E_NOINTERFACE;
}

template <typename T>
HRESULT Query(IUnknown* from, REFIID iid, ComPtr<T>& to) {
    return Checked(from->QueryInterface(iid, reinterpret_cast<void**>(to.Put())), to);
}

// The desktop window's automation object (FindWindowSW gives S_FALSE and
// nothing when the shell has no desktop).
HRESULT FindDesktop(ComPtr<IDispatch>& desktop) {
    ComPtr<IShellWindows> windows;
    HRESULT result = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER, IID_IShellWindows,
                                        reinterpret_cast<void**>(windows.Put()));
    if (FAILED(result = Checked(result, windows))) return result;
    VARIANT location{};
    location.vt = VT_I4;
    location.lVal = CSIDL_DESKTOP;
    VARIANT root{};
    root.vt = VT_EMPTY;
    long window = 0;
    result = windows->FindWindowSW(&location, &root, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, desktop.Put());
    if (result == S_FALSE) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    return Checked(result, desktop);
}

// The shell's application object behind the desktop's view.
HRESULT DesktopShellDispatch(ComPtr<IShellDispatch2>& shell) {
    ComPtr<IDispatch> desktop;
    HRESULT result = FindDesktop(desktop);
    if (FAILED(result)) return result;
    ComPtr<IServiceProvider> services;
    if (FAILED(result = Query(desktop.Get(), IID_IServiceProvider, services))) return result;
    ComPtr<IShellBrowser> browser;
    result = services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, reinterpret_cast<void**>(browser.Put()));
    if (FAILED(result = Checked(result, browser))) return result;
    ComPtr<IShellView> view;
    if (FAILED(result = Checked(browser->QueryActiveShellView(view.Put()), view))) return result;
    ComPtr<IDispatch> background;
    result = view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, reinterpret_cast<void**>(background.Put()));
    if (FAILED(result = Checked(result, background))) return result;
    ComPtr<IShellFolderViewDual> folderView;
    if (FAILED(result = Query(background.Get(), IID_IShellFolderViewDual, folderView))) return result;
    ComPtr<IDispatch> application;
    if (FAILED(result = Checked(folderView->get_Application(application.Put()), application))) return result;
    return Query(application.Get(), IID_IShellDispatch2, shell);
}

// A VARIANT that borrows text owned by the caller (never cleared).
VARIANT TextVariant(const framework::UniqueBstr& text) {
    VARIANT variant{};
    variant.vt = VT_BSTR;
    variant.bstrVal = text.Get();
    return variant;
}

}  // namespace

HRESULT StartThroughDesktopShell(const CStringW& file, const CStringW& arguments, const CStringW& directory, int show) {
    ComPtr<IShellDispatch2> shell;
    const HRESULT found = DesktopShellDispatch(shell);
    if (FAILED(found)) return found;
    const framework::UniqueBstr fileText = framework::AllocateBstr(file);
    const framework::UniqueBstr argumentText = framework::AllocateBstr(arguments);
    const framework::UniqueBstr directoryText = framework::AllocateBstr(directory);
    const framework::UniqueBstr verbText = framework::AllocateBstr(L"open");
    if (!fileText || !argumentText || !directoryText || !verbText) return E_OUTOFMEMORY;
    VARIANT showValue{};
    showValue.vt = VT_I4;
    showValue.lVal = show;
    return shell->ShellExecute(fileText.Get(), TextVariant(argumentText), TextVariant(directoryText),
                               TextVariant(verbText), showValue);
}
